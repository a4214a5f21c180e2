// The text prompts' editing operations, each byte one operation, against a
// plain model of lines of characters and a cursor for the operations that
// do not look at words or lines; the rest only keep the cursor in range.
#include <algorithm>

#include "fuzz_support.hpp"
#include "prompt/cursor.hpp"
#include "prompt/unicode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  StringCursor c;
  std::u32string model;
  std::size_t at = 0;
  static const char32_t kChars[] = {U'a', U' ', U'\n', U'é', U'日', U'\u0301', U'\t', U'\U0001F600', U'-', U'.'};
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    switch (b % 14) {
      case 0: case 1: {
        const char32_t ch = kChars[(b / 14) % std::size(kChars)];
        c.insert(ch);
        model.insert(at++, 1, ch);
        break;
      }
      case 2: c.delete_left(); if (at > 0) model.erase(--at, 1); break;
      case 3: c.delete_right(); if (at < model.size()) model.erase(at, 1); break;
      case 4: c.move_left(); if (at > 0) --at; break;
      case 5: c.move_right(); if (at < model.size()) ++at; break;
      case 6: {  // the start of the cursor's line
        c.move_home();
        const std::size_t nl = at == 0 ? std::u32string::npos : model.rfind(U'\n', at - 1);
        at = nl == std::u32string::npos ? 0 : nl + 1;
        break;
      }
      case 7: {  // the end of the cursor's line
        c.move_end();
        at = std::min(model.find(U'\n', at), model.size());
        break;
      }
      case 8: c.move_up(); break;
      case 9: c.move_down(); break;
      case 10: c.move_left_by_word(); break;
      case 11: c.move_right_by_word(); break;
      case 12: {
        const std::size_t before = c.size();
        c.delete_word_to_the_left();
        FUZZ_CHECK(c.size() <= before);
        break;
      }
      case 13: {
        const std::string tail(b & 1 ? "x y" : "\xff\xfe");
        c.extend(tail);
        model += *unicode::to_u32(unicode::lossy(tail));
        break;
      }
    }
    FUZZ_CHECK(c.cursor() <= c.size());
    // Operations the model does not follow: take over their result.
    if (c.size() != model.size() || c.cursor() != at) {
      const auto now = unicode::to_u32(c.text());
      FUZZ_CHECK(now.has_value());
      const std::uint8_t op = b % 14;
      FUZZ_CHECK(op >= 8 && op <= 12, "op %u: size %zu/%zu cursor %zu/%zu", op, c.size(), model.size(), c.cursor(), at);
      model = *now;
      at = c.cursor();
    }
    FUZZ_CHECK(*unicode::to_u32(c.text()) == model);
    const auto s = c.split();
    const std::string at_char = s.at;
    FUZZ_CHECK(s.left == unicode::to_utf8(model.substr(0, at)));
    if (at == model.size()) {
      FUZZ_CHECK(at_char == " " && s.right.empty());
    } else if (model[at] == U'\n') {
      FUZZ_CHECK(at_char == " " && s.right == unicode::to_utf8(model.substr(at)));
    } else {
      FUZZ_CHECK(s.left + at_char + s.right == c.text());
    }
    const StringCursor m = c.masked(U'*');
    FUZZ_CHECK(m.size() == c.size() && m.cursor() == c.cursor());
  }
  return 0;
}
