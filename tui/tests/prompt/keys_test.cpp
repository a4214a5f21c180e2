// The pure key decoder, fed from a script: each chunk is what the terminal has
// ready at one moment; between two chunks nothing is ready until the reader
// waits.
#include "prompt/keys.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/readable.hpp"
#include "support/scripted_term.hpp"

namespace {

using K = Key::Kind;

std::string describe(const Key& k) {
  return "kind " + std::to_string(static_cast<int>(k.kind)) + " ch " + std::to_string(k.ch) + " seq '" +
         readable(k.seq) + "'";
}

}  // namespace

// Each script decodes to one key and leaves `left` unread.
TEST(KeyDecoding, EveryRowOfTheTable) {
  const struct {
    std::initializer_list<std::string> chunks;
    Key want;
    std::string left = "";
  } cases[] = {
      {{"\x01"}, Key::of(K::Home)},          {{"\x05"}, Key::of(K::End)},
      {{"\x08"}, Key::of(K::Backspace)},     {{"\x7f"}, Key::of(K::Backspace)},
      {{"\t"}, Key::of(K::Tab)},             {{"\n"}, Key::of(K::Enter)},
      {{"\r"}, Key::of(K::Enter)},           {{"a"}, Key::character(U'a')},
      {{std::string(1, '\0')}, Key::character(0)},
      {{"\x04"}, Key::character(4)},
      // Bytes that cannot start a UTF-8 sequence stand for themselves.
      {{"\x80"}, Key::character(0x80)},      {{"\xff"}, Key::character(0xff)},
      {{"\xc3\xa9"}, Key::character(U'é')},  {{"\xe2\x82\xac"}, Key::character(U'€')},
      {{"\xf0\x9f\x98\x80"}, Key::character(U'\U0001F600')},
      {{"\x1b"}, Key::of(K::Escape)},
      {{"\x1b[A"}, Key::of(K::ArrowUp)},     {{"\x1b[B"}, Key::of(K::ArrowDown)},
      {{"\x1b[C"}, Key::of(K::ArrowRight)},  {{"\x1b[D"}, Key::of(K::ArrowLeft)},
      {{"\x1b[H"}, Key::of(K::Home)},        {{"\x1b[F"}, Key::of(K::End)},
      {{"\x1b[Z"}, Key::of(K::BackTab)},     {{"\x1b[1~"}, Key::of(K::Home)},
      {{"\x1b[7~"}, Key::of(K::Home)},       {{"\x1b[2~"}, Key::of(K::Insert)},
      {{"\x1b[3~"}, Key::of(K::Del)},        {{"\x1b[4~"}, Key::of(K::End)},
      {{"\x1b[8~"}, Key::of(K::End)},        {{"\x1b[5~"}, Key::of(K::PageUp)},
      {{"\x1b[6~"}, Key::of(K::PageDown)},   {{"\x1b[9~"}, Key::unknown_esc("[9~")},
      {{"\x1b[x~"}, Key::unknown_esc("[x~")}, {{"\x1b[3x"}, Key::unknown_esc("[3x")},
      {{"\x1b[2"}, Key::unknown_esc("[2")},  {{"\x1b["}, Key::unknown_esc("[")},
      // A terminal in application-cursor mode: ESC O for ESC [.
      {{"\x1bOA"}, Key::of(K::ArrowUp)},     {{"\x1bOB"}, Key::of(K::ArrowDown)},
      {{"\x1bOC"}, Key::of(K::ArrowRight)},  {{"\x1bOD"}, Key::of(K::ArrowLeft)},
      {{"\x1bOH"}, Key::of(K::Home)},        {{"\x1bOF"}, Key::of(K::End)},
      {{"\x1bOP"}, Key::unknown_esc("O"), "P"}, {{"\x1bO", "A"}, Key::unknown_esc("O"), "A"},
      {{"\x1bO"}, Key::unknown_esc("O")},    {{"\x1b\x1b"}, Key::unknown_esc("\x1b")},
      {{"\x1b" "b"}, Key::unknown_esc("b")},
      // Invalid or short multi-byte characters.
      {{"\xc3" "A"}, Key::of(K::Unknown)},   {{"\xc0\x80"}, Key::of(K::Unknown)},
      {{"\xed\xa0\x80"}, Key::of(K::Unknown)}, {{"\xf4\x90\x80\x80"}, Key::of(K::Unknown)},
      {{"\xe2\x82", "\xac"}, Key::of(K::Unknown), "\xac"},  // one read gets part of the tail
      {{"\xf0", "\x9f\x98"}, Key::of(K::Unknown)},          // waits, but is one byte short
      // Sequences split by a pause longer than the wait for their rest decode as shorter keys.
      {{"\x1b", "[A"}, Key::of(K::Escape), "[A"},
      {{"\x1b[", "A"}, Key::unknown_esc("["), "A"},
      {{"\x1b[3", "~"}, Key::unknown_esc("[3"), "~"},
      {{"\x1b[1;5C"}, Key::unknown_esc("[1;"), "5C"},  // the caller reads a modified arrow's tail
      {{"\x1b[A\x1b[B"}, Key::of(K::ArrowUp), "\x1b[B"},
      {{"\r\n"}, Key::of(K::Enter), "\n"},
      {{"", "", "\x1b[3~"}, Key::of(K::Del)},  // the reader blocks for the first byte
      // Ctrl-C wherever the reader meets it, up to a character's first continuation byte.
      {{"\x03" "abc"}, Key::of(K::CtrlC), "abc"},
      {{"\xc3\x03"}, Key::of(K::CtrlC)},
      {{"\xf0", "\x03\x9f"}, Key::of(K::CtrlC)},
      {{"\x1b\x03"}, Key::of(K::CtrlC)},
      {{"\x1b[3\x03"}, Key::of(K::CtrlC)},
      {{"\xe2\x82\x03"}, Key::of(K::Unknown)},  // a later 3 just spoils the character
  };
  for (const auto& c : cases) {
    ScriptedSource in(c.chunks);
    const std::string typed = readable(in.unread());
    auto got = decode_key(in);
    ASSERT_TRUE(got.has_value()) << typed << ": " << got.error().message();
    EXPECT_EQ(*got, c.want) << typed << " gave " << describe(*got);
    EXPECT_EQ(in.unread(), c.left) << typed;
  }
}

TEST(KeyDecoding, EndOfInputIsAnError) {
  const std::initializer_list<std::string> scripts[] = {{}, {"\xc3"}, {"\xf0", ""}};
  for (const auto& chunks : scripts) {
    ScriptedSource in(chunks);
    auto got = decode_key(in);
    ASSERT_FALSE(got.has_value()) << describe(*got);
    EXPECT_EQ(got.error().kind(), ErrorKind::UnexpectedEof);
    EXPECT_EQ(got.error().message(), "Reached end of file");
  }
}
