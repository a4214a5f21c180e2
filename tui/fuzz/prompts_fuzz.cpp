// Each prompt fed a key stream the way the interaction loop feeds it, until
// it submits or is cancelled: every frame is valid UTF-8 ending with a line
// feed, and a password prompt draws the same frames whatever characters the
// password has (it is fed a second time with every character replaced).
#include "fuzz_support.hpp"
#include "prompt/confirm.hpp"
#include "prompt/input.hpp"
#include "prompt/select.hpp"
#include "prompt/unicode.hpp"
#include "prompt/wrap.hpp"

namespace {

// One step of the interaction loop; false once the prompt has ended.
bool step(PromptInteraction& p, const Key& key, ThemeState& state) {
  static const Term no_terminal(-1, -1);
  if (key.kind == Key::Kind::Escape) {
    state = p.on(key).kind == ThemeState::Cancel ? ThemeState::Active : ThemeState::Cancel;
  } else {
    (void)p.edit(key, no_terminal);
    state = p.on(key);
  }
  return state.kind != ThemeState::Submit && state.kind != ThemeState::Cancel;
}

void check_frame(const std::string& frame) {
  FUZZ_CHECK(frame.ends_with('\n'), "%s", readable(frame).c_str());
  FUZZ_CHECK(unicode::is_valid_utf8(frame), "%s", readable(frame).c_str());
  FUZZ_CHECK(count_rows(frame, 80) >= 1);
}

std::optional<std::string> required(const std::string& s) {
  if (unicode::trim(s).empty()) return "A value is required";
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  FuzzBytes in(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  Select<int> select("Pick one:");
  select.item(1, "first", "the first").item(2, "second", "").item(3, "третий 日本", "wide\thint");
  Confirm confirm("Keep going?");
  Input input("Name:");
  input.default_input("D").validate(required);
  Password password("Secret:"), twin("Secret:");
  PromptInteraction* prompts[] = {&select, &confirm, &input, &password};
  PromptInteraction& p = *prompts[data[0] % 4];

  ThemeState state, twin_state;
  check_frame(p.render(state));
  for (std::size_t keys = 0; keys <= size; ++keys) {
    auto key = decode_key(in);
    if (!key) break;
    const bool going = step(p, *key, state);
    const std::string frame = p.render(state);
    check_frame(frame);
    if (&p == &password) {
      Key same_length = *key;
      if (same_length.kind == Key::Kind::Char && same_length.ch >= 0x20) same_length.ch = U'x';
      step(twin, same_length, twin_state);
      FUZZ_CHECK(twin.render(twin_state) == frame, "the frame shows the password: %s", readable(frame).c_str());
    }
    if (!going) break;
  }
  return 0;
}
