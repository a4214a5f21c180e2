// Style bytes, the colour and symbol rules, and how a process decides once.
#include "prompt/style.hpp"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "support/child.hpp"
#include "support/escapes.hpp"
#include "support/pty_pair.hpp"
#include "support/scoped_env.hpp"

namespace {

EnvSnapshot env(std::optional<std::string> term, std::optional<std::string> no_color = {},
                std::optional<std::string> clicolor = {}, std::optional<std::string> clicolor_force = {}) {
  EnvSnapshot e;
  e.term = std::move(term);
  e.no_color = std::move(no_color);
  e.clicolor = std::move(clicolor);
  e.clicolor_force = std::move(clicolor_force);
  return e;
}

// The decisions are made once per process, so each case runs in a fresh
// process of this binary started with TERVANE_DECISION_PROBE naming a probe.
// The probe runs before main(), writes its answer on descriptor 3 and exits.
std::string probe_by_name(std::string_view name);

const bool probe_ran = [] {
  const char* name = getenv("TERVANE_DECISION_PROBE");
  if (name == nullptr) return false;
  const std::string answer = probe_by_name(name);
  if (write(3, answer.data(), answer.size()) < 0) _exit(4);
  _exit(0);
}();

/// Runs probe `name` with standard output and standard error on the given
/// descriptors (-1: a pipe nobody reads) and `env` on top of this process's
/// environment (a null value unsets).
std::string run_probe(const char* name, int out_fd, int err_fd,
                      std::initializer_list<std::pair<const char*, const char*>> env) {
  const ChildEnd end = run_child(
      [&] {
        int spare[2];
        if (pipe(spare) != 0) return 3;
        dup2(out_fd >= 0 ? out_fd : spare[1], STDOUT_FILENO);
        dup2(err_fd >= 0 ? err_fd : spare[1], STDERR_FILENO);
        for (const auto& [k, v] : env) v ? setenv(k, v, 1) : unsetenv(k);
        setenv("TERVANE_DECISION_PROBE", name, 1);
        execl("/proc/self/exe", "unit_tests", static_cast<char*>(nullptr));
        return 5;
      },
      {3});
  if (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0) return "probe failed: " + end.output;
  return end.output;
}

}  // namespace

TEST(StyleRendering, WritesColourThenAttributesThenReset) {
  const struct {
    Style style;
    std::string want;
  } cases[] = {
      {Style().red(), ESC "[31mtext" ESC "[0m"},
      {bright_black(), ESC "[38;5;8mtext" ESC "[0m"},
      {Style().red().bright(), ESC "[38;5;9mtext" ESC "[0m"},
      {Style().strikethrough().dim().dim(), ESC "[2m" ESC "[9mtext" ESC "[0m"},
      {Style().bold().cyan(), ESC "[36m" ESC "[1mtext" ESC "[0m"},
      {Style(), "text"},  // nothing written before, so no reset either
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.style.apply("text", true), c.want);
    EXPECT_EQ(c.style.apply("text", false), "text");
  }
  EXPECT_EQ(Style().red().apply("", true), ESC "[31m" ESC "[0m");
}

TEST(ColourRule, TerminalAndVariables) {
  const struct {
    const char* what;
    EnvSnapshot env;
    bool tty;
    bool want;
  } cases[] = {
      {"plain terminal", env("xterm-256color"), true, true},
      {"pipe", env("xterm-256color"), false, false},
      {"NO_COLOR empty", env("xterm", ""), true, false},
      {"NO_COLOR=0 still set", env("xterm", "0"), true, false},
      {"TERM unset", env(std::nullopt), true, false},
      {"TERM empty", env(""), true, true},
      {"TERM=dumb", env("dumb"), true, false},
      {"CLICOLOR=0", env("xterm", {}, "0"), true, false},
      {"CLICOLOR empty", env("xterm", {}, ""), true, true},
      {"CLICOLOR_FORCE=1, no TERM, pipe", env(std::nullopt, {}, {}, "1"), false, true},
      {"CLICOLOR_FORCE empty", env(std::nullopt, {}, {}, ""), false, true},
      {"CLICOLOR_FORCE=0", env("xterm", {}, {}, "0"), false, false},
      {"CLICOLOR_FORCE=0 on a terminal", env("xterm", {}, {}, "0"), true, true},
      {"NO_COLOR beaten by CLICOLOR_FORCE", env("xterm", "", {}, "yes"), true, true},
      {"CLICOLOR=0 beaten by CLICOLOR_FORCE", env("xterm", {}, "0", "1"), false, true},
      {"TERM=dumb beaten by CLICOLOR_FORCE", env("dumb", {}, {}, "1"), true, true},
  };
  for (const auto& c : cases) EXPECT_EQ(colours_enabled(c.env, c.tty), c.want) << c.what;
}

TEST(SymbolRule, LangEndingInUtf8) {
  const struct {
    std::optional<std::string> lang;
    bool want;
  } cases[] = {
      {"en_US.UTF-8", true}, {"en_US.utf-8", true}, {"de_DE.Utf-8", true},
      {"C.UTF-8", true},     {"UTF-8", true},       {"C", false},
      {"UTF8", false},       {"en_US.utf8", false}, {"en_US.UTF-8@euro", false},
      {"", false},           {std::nullopt, false}, {"TF-8", false},
  };
  for (const auto& c : cases) {
    EnvSnapshot e;
    e.lang = c.lang;
    EXPECT_EQ(unicode_symbols_enabled(e), c.want) << c.lang.value_or("(unset)");
  }
}

TEST(EnvSnapshot, ReadsTheVariablesAndDropsInvalidUtf8) {
  ScopedEnv no_color("NO_COLOR", ""), term("TERM", "xterm-kitty"), clicolor("CLICOLOR", std::nullopt),
      force("CLICOLOR_FORCE", "\xFF\xFE"), lang("LANG", "fr_FR.UTF-8");
  const EnvSnapshot e = EnvSnapshot::from_environment();
  EXPECT_EQ(e.no_color, std::optional<std::string>(""));
  EXPECT_EQ(e.term, std::optional<std::string>("xterm-kitty"));
  EXPECT_EQ(e.clicolor, std::nullopt);
  EXPECT_EQ(e.clicolor_force, std::nullopt);
  EXPECT_EQ(e.lang, std::optional<std::string>("fr_FR.UTF-8"));
  ScopedEnv bad_lang("LANG", "en_US.UTF-8\xC0");
  EXPECT_EQ(EnvSnapshot::from_environment().lang, std::nullopt);
}

// The real decisions, each asked first and again after the environment
// changed: the second answer must not change.
TEST(ProcessDecisions, TakenOnceFromStreamsAndEnvironment) {
  (void)probe_ran;
  PtyPair pty;
  // Standard output a pipe, standard error the terminal: prompts uncoloured,
  // the spinner's own colours (decided for standard error) on, whatever comes later.
  EXPECT_EQ(run_probe("colours", -1, pty.slave(),
                      {{"NO_COLOR", nullptr}, {"CLICOLOR", nullptr}, {"CLICOLOR_FORCE", nullptr}, {"TERM", "xterm"}}),
            "cEx" ESC "[31my" ESC "[0m" "cE");
  // Symbols: decided at the first use from LANG, then fixed.
  EXPECT_EQ(run_probe("symbols", -1, -1, {{"LANG", "en_GB.utf-8"}}), "<><>");
}

namespace {

std::string probe_by_name(std::string_view name) {
  std::string r;
  if (name == "colours") {
    r += colours_on() ? 'C' : 'c';
    r += colours_on_stderr() ? 'E' : 'e';
    r += Style().red().apply("x");
    r += Style().red().apply("y", colours_on_stderr());
    setenv("NO_COLOR", "1", 1);
    setenv("CLICOLOR_FORCE", "1", 1);
    setenv("TERM", "dumb", 1);
    r += colours_on() ? 'C' : 'c';
    r += colours_on_stderr() ? 'E' : 'e';
  } else if (name == "symbols") {
    const Emoji diamond{"<>", "o"};
    r += diamond.str();
    setenv("LANG", "C", 1);
    r += diamond.str();
  }
  return r;
}

}  // namespace
