// Key decoding through a scripted byte source: each chunk of the script is
// what the terminal has ready at one moment; between two chunks nothing is
// ready until the reader waits.
#include "prompt/keys.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

class ScriptedSource : public ByteSource {
 public:
  ScriptedSource(std::initializer_list<std::string> chunks) : chunks_(chunks) {}

  Result<std::optional<std::uint8_t>> next(bool wait) override {
    if (!ready() && (!wait || !advance())) {
      if (wait) return fail(Error(ErrorKind::UnexpectedEof, "Reached end of file"));
      return std::optional<std::uint8_t>{};
    }
    return static_cast<std::uint8_t>(chunks_[chunk_][pos_++]);
  }

  Result<std::string> read_some(std::size_t count) override {
    if (!ready() && !advance()) return fail(Error(ErrorKind::UnexpectedEof, "Reached end of file"));
    std::string out = chunks_[chunk_].substr(pos_, count);
    pos_ += out.size();
    return out;
  }

  // Bytes the decoder left for later reads.
  std::string unread() const {
    std::string rest;
    for (std::size_t i = chunk_; i < chunks_.size(); ++i) rest += chunks_[i].substr(i == chunk_ ? pos_ : 0);
    return rest;
  }

 private:
  bool ready() const { return chunk_ < chunks_.size() && pos_ < chunks_[chunk_].size(); }
  bool advance() {
    while (chunk_ + 1 < chunks_.size()) {
      ++chunk_;
      pos_ = 0;
      if (ready()) return true;
    }
    return false;
  }

  std::vector<std::string> chunks_;
  std::size_t chunk_ = 0;
  std::size_t pos_ = 0;
};

using K = Key::Kind;

std::string describe(const Key& k) {
  return "kind " + std::to_string(static_cast<int>(k.kind)) + " ch " + std::to_string(k.ch) + " seq '" +
         readable(k.seq) + "'";
}

}  // namespace

TEST(KeyDecoding, EveryRowOfTheTable) {
  const struct {
    std::string bytes;
    Key want;
  } cases[] = {
      {"\x01", Key::of(K::Home)},
      {"\x05", Key::of(K::End)},
      {"\x08", Key::of(K::Backspace)},
      {"\x7f", Key::of(K::Backspace)},
      {"\t", Key::of(K::Tab)},
      {"\n", Key::of(K::Enter)},
      {"\r", Key::of(K::Enter)},
      {"a", Key::character(U'a')},
      {" ", Key::character(U' ')},
      {"~", Key::character(U'~')},
      {std::string(1, '\0'), Key::character(0)},
      {"\x04", Key::character(4)},
      {"\x1f", Key::character(0x1f)},
      // Bytes that cannot start a UTF-8 sequence stand for themselves.
      {"\x80", Key::character(0x80)},
      {"\xbf", Key::character(0xbf)},
      {"\xff", Key::character(0xff)},
      {"\xc3\xa9", Key::character(U'é')},
      {"\xe2\x82\xac", Key::character(U'€')},
      {"\xf0\x9f\x98\x80", Key::character(U'\U0001F600')},
      {"\x1b", Key::of(K::Escape)},
      {"\x1b[A", Key::of(K::ArrowUp)},
      {"\x1b[B", Key::of(K::ArrowDown)},
      {"\x1b[C", Key::of(K::ArrowRight)},
      {"\x1b[D", Key::of(K::ArrowLeft)},
      {"\x1b[H", Key::of(K::Home)},
      {"\x1b[F", Key::of(K::End)},
      {"\x1b[Z", Key::of(K::BackTab)},
      {"\x1b[1~", Key::of(K::Home)},
      {"\x1b[7~", Key::of(K::Home)},
      {"\x1b[2~", Key::of(K::Insert)},
      {"\x1b[3~", Key::of(K::Del)},
      {"\x1b[4~", Key::of(K::End)},
      {"\x1b[8~", Key::of(K::End)},
      {"\x1b[5~", Key::of(K::PageUp)},
      {"\x1b[6~", Key::of(K::PageDown)},
      {"\x1b[9~", Key::unknown_esc("[9~")},
      {"\x1b[0~", Key::unknown_esc("[0~")},
      {"\x1b[x~", Key::unknown_esc("[x~")},
      {"\x1b[3x", Key::unknown_esc("[3x")},
      {"\x1b[2", Key::unknown_esc("[2")},
      {"\x1b[", Key::unknown_esc("[")},
      {"\x1bO", Key::unknown_esc("O")},
      {"\x1b\x1b", Key::unknown_esc("\x1b")},
      {"\x1b" "b", Key::unknown_esc("b")},
  };
  for (const auto& c : cases) {
    ScriptedSource in{c.bytes};
    auto got = decode_key(in);
    ASSERT_TRUE(got.has_value()) << readable(c.bytes) << ": " << got.error().message();
    EXPECT_EQ(*got, c.want) << readable(c.bytes) << " gave " << describe(*got);
    EXPECT_EQ(in.unread(), "") << readable(c.bytes);
  }
}

TEST(KeyDecoding, InvalidOrShortMultiByteCharactersAreUnknown) {
  const struct {
    std::initializer_list<std::string> chunks;
    std::string left;
  } cases[] = {
      {{"\xc3" "A"}, ""},                 // bad continuation byte
      {{"\xc0\x80"}, ""},                 // overlong NUL
      {{"\xe0\x80\x80"}, ""},             // overlong three-byte form
      {{"\xed\xa0\x80"}, ""},             // a surrogate
      {{"\xf4\x90\x80\x80"}, ""},         // past U+10FFFF
      {{"\xf7\xbf\xbf\xbf"}, ""},         // lead byte of a value that cannot exist
      {{"\xe2\x82", "\xac"}, "\xac"},     // the tail arrived in two pieces: one read gets part
      {{"\xf0", "\x9f\x98"}, ""},         // waits for the tail, but it is one byte short
  };
  for (const auto& c : cases) {
    ScriptedSource in(c.chunks);
    std::string all;
    for (const auto& chunk : c.chunks) all += chunk;
    auto got = decode_key(in);
    ASSERT_TRUE(got.has_value()) << readable(all);
    EXPECT_EQ(*got, Key::of(K::Unknown)) << readable(all) << " gave " << describe(*got);
    EXPECT_EQ(in.unread(), c.left) << readable(all);
  }
}

TEST(KeyDecoding, SplitEscapeSequencesDecodeAsShorterKeys) {
  const struct {
    std::initializer_list<std::string> chunks;
    Key want;
    std::string left;
  } cases[] = {
      {{"\x1b", "[A"}, Key::of(K::Escape), "[A"},
      {{"\x1b[", "A"}, Key::unknown_esc("["), "A"},
      {{"\x1b[3", "~"}, Key::unknown_esc("[3"), "~"},
      {{"\x1b[A", "\x1b[B"}, Key::of(K::ArrowUp), "\x1b[B"},
      // A modified arrow stops after "[1;" and leaves its tail for the caller.
      {{"\x1b[1;5C"}, Key::unknown_esc("[1;"), "5C"},
      // Two keys ready at once: only the first is taken.
      {{"ab"}, Key::character(U'a'), "b"},
      {{"\r\n"}, Key::of(K::Enter), "\n"},
      // A wait before the first byte is fine: the reader blocks for it.
      {{"", "", "\x1b[3~"}, Key::of(K::Del), ""},
  };
  for (const auto& c : cases) {
    ScriptedSource in(c.chunks);
    std::string all;
    for (const auto& chunk : c.chunks) all += chunk;
    auto got = decode_key(in);
    ASSERT_TRUE(got.has_value()) << readable(all);
    EXPECT_EQ(*got, c.want) << readable(all) << " gave " << describe(*got);
    EXPECT_EQ(in.unread(), c.left) << readable(all);
  }
}

TEST(KeyDecoding, CtrlCIsReportedWhereverTheReaderMeetsIt) {
  const std::initializer_list<std::string> scripts[] = {
      {"\x03"},
      {"\x03" "abc"},
      {"\xc3\x03"},          // first continuation byte of a two-byte character
      {"\xe2\x03\x82"},      // ... of a three-byte character
      {"\xf0", "\x03\x9f"},  // ... arriving after a wait
      {"\x1b\x03"},          // right after ESC
      {"\x1b[\x03"},
      {"\x1b[3\x03"},
  };
  for (const auto& chunks : scripts) {
    ScriptedSource in(chunks);
    std::string all;
    for (const auto& chunk : chunks) all += chunk;
    auto got = decode_key(in);
    ASSERT_TRUE(got.has_value()) << readable(all);
    EXPECT_EQ(*got, Key::of(K::CtrlC)) << readable(all) << " gave " << describe(*got);
  }
  // Only the first continuation byte counts: a later 3 just spoils the character.
  ScriptedSource late{"\xe2\x82\x03"};
  EXPECT_EQ(decode_key(late).value(), Key::of(K::Unknown));
}

TEST(KeyDecoding, EndOfInputIsAnError) {
  const std::initializer_list<std::string> scripts[] = {
      {},
      {""},
      {"\xc3"},        // inside a two-byte character
      {"\xf0", ""},    // inside a four-byte character, after a wait
  };
  for (const auto& chunks : scripts) {
    ScriptedSource in(chunks);
    auto got = decode_key(in);
    ASSERT_FALSE(got.has_value()) << describe(*got);
    EXPECT_EQ(got.error().kind(), ErrorKind::UnexpectedEof);
    EXPECT_EQ(got.error().message(), "Reached end of file");
  }
  // ESC at the end of input is a finished key: nothing more was ready.
  ScriptedSource esc{"\x1b"};
  EXPECT_EQ(decode_key(esc).value(), Key::of(K::Escape));
}

TEST(KeyDecoding, ReadableNamesControlBytes) {
  EXPECT_EQ(readable("\x1b[3~"), "<esc>[3~");
  EXPECT_EQ(readable("a\r\n\x7f"), "a<0x0d><0x0a><0x7f>");
  EXPECT_EQ(readable(std::string("\0\x1f", 2)), "<0x00><0x1f>");
  EXPECT_EQ(readable("é €"), "é €");
  EXPECT_EQ(readable(""), "");
}
