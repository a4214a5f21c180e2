// style.cpp: rendering of styles and the process-wide colour and symbol
// decisions.
//
// Sequences written around a styled text:
//   ESC [ 3 0+n m       plain foreground colour n (0 black .. 7 white)
//   ESC [ 3 8 ; 5 ; k m bright foreground colour n as 256-colour index k = n + 8
//   ESC [ a m           attribute a (1 bold .. 9 strike-through), ascending
//   ESC [ 0 m           reset, only when one of the above was written
// and, for text coloured whatever the decision, all of a style in one:
//   ESC [ a ; … ; 3 0+n m  attributes first, then the colour
#include "prompt/style.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "prompt/unicode.hpp"

namespace {

// DecisionOverride state: kNoOverride, or bit 0 = colours, bit 1 = unicode.
constexpr int kNoOverride = -1;
std::atomic<int> g_override{kNoOverride};

}  // namespace

std::optional<std::string> env_text(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !unicode::is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

EnvSnapshot EnvSnapshot::from_environment() {
  EnvSnapshot env;
  env.no_color = env_text("NO_COLOR");
  env.term = env_text("TERM");
  env.clicolor = env_text("CLICOLOR");
  env.clicolor_force = env_text("CLICOLOR_FORCE");
  env.lang = env_text("LANG");
  return env;
}

bool colours_enabled(const EnvSnapshot& env, bool stream_is_tty) {
  const bool term_ok = env.term && *env.term != "dumb";
  const bool clicolor_ok = !env.clicolor || *env.clicolor != "0";
  if (stream_is_tty && !env.no_color && term_ok && clicolor_ok) return true;
  return env.clicolor_force && *env.clicolor_force != "0";
}

bool unicode_symbols_enabled(const EnvSnapshot& env) {
  if (!env.lang) return false;
  std::string upper = *env.lang;
  for (char& ch : upper)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return upper.ends_with("UTF-8");
}

// Each decision is a function-local static: initialised once, thread-safely,
// at first use, and never re-read, so a change of the environment later in
// the run cannot make one frame differ from the next.
bool colours_on() {
  if (const int o = g_override.load(); o != kNoOverride) return (o & 1) != 0;
  static const bool decided = colours_enabled(EnvSnapshot::from_environment(), isatty(STDOUT_FILENO) == 1);
  return decided;
}

bool colours_on_stderr() {
  if (const int o = g_override.load(); o != kNoOverride) return (o & 1) != 0;
  static const bool decided = colours_enabled(EnvSnapshot::from_environment(), isatty(STDERR_FILENO) == 1);
  return decided;
}

bool unicode_symbols_on() {
  if (const int o = g_override.load(); o != kNoOverride) return (o & 2) != 0;
  static const bool decided = unicode_symbols_enabled(EnvSnapshot::from_environment());
  return decided;
}

// Overrides nest: each one restores the value it replaced.
DecisionOverride::DecisionOverride(bool colours, bool unicode) {
  previous_ = g_override.exchange((colours ? 1 : 0) | (unicode ? 2 : 0));
}

DecisionOverride::~DecisionOverride() { g_override.store(previous_); }

std::string Style::apply(std::string_view text) const { return apply(text, colours_on()); }

namespace {

// ESC [ params m: every colour and attribute sequence is spelled here.
void append_sequence(std::string& out, std::string_view params) {
  out += "\x1b[";
  out += params;
  out += 'm';
}

}  // namespace

std::string Style::colour_code() const {
  if (!fg_) return {};
  return bright_ ? "38;5;" + std::to_string(*fg_ + 8) : "3" + std::to_string(*fg_);
}

std::string Style::apply(std::string_view text, bool colours) const {
  if (!colours) return std::string(text);
  std::string out;
  if (fg_) append_sequence(out, colour_code());
  for (unsigned a = 1; a <= 9; ++a)
    if (attrs_ & (1u << a)) append_sequence(out, std::to_string(a));
  const bool styled = !out.empty();
  out += text;
  if (styled) out += kStyleReset;
  return out;
}

std::string Style::sequence() const {
  std::string params;
  for (unsigned a = 1; a <= 9; ++a)
    if (attrs_ & (1u << a)) params += std::to_string(a) + ";";
  params += colour_code();
  if (params.ends_with(';')) params.pop_back();
  std::string out;
  append_sequence(out, params);
  return out;
}
