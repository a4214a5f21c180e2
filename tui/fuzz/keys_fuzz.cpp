// The key decoder on any bytes, some of them arriving late: every key uses
// at least one byte, characters are Unicode scalar values, and the decoder
// ends with the end-of-input error once the bytes are used up.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzBytes in(std::string_view(reinterpret_cast<const char*>(data), size));
  for (std::size_t keys = 0;; ++keys) {
    const std::size_t before = in.pos();
    auto key = decode_key(in);
    if (!key) {
      FUZZ_CHECK(key.error().kind() == ErrorKind::UnexpectedEof);
      FUZZ_CHECK(in.at_end());
      break;
    }
    FUZZ_CHECK(in.pos() > before, "a key from no bytes at %zu", before);
    FUZZ_CHECK(keys <= size);
    if (key->kind == Key::Kind::Char) {
      const char32_t c = key->ch;
      FUZZ_CHECK(c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF), "U+%X", static_cast<unsigned>(c));
    } else {
      FUZZ_CHECK(key->ch == 0);
    }
    FUZZ_CHECK(key->kind == Key::Kind::UnknownEscSeq || key->seq.empty());
    FUZZ_CHECK(key->kind != Key::Kind::Alt && key->kind != Key::Kind::Shift);
  }
  return 0;
}
