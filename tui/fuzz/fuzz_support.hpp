// fuzz_support.hpp: what the fuzz targets share: a failed check that stops
// the fuzzer with a message, and a key source over the fuzzer's bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "../tests/support/readable.hpp"  // readable(), for failure messages
#include "prompt/keys.hpp"

#define FUZZ_CHECK(cond, ...)                                          \
  do {                                                                 \
    if (!(cond)) {                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::fprintf(stderr, "  " __VA_ARGS__);                          \
      std::fputc('\n', stderr);                                        \
      std::abort();                                                    \
    }                                                                  \
  } while (0)

/// Bytes as a terminal delivers them. Byte 0x1f is not a key byte here but a
/// pause: the bytes after it are not ready until someone waits for them, so
/// escape sequences arrive split.
class FuzzBytes : public ByteSource {
 public:
  explicit FuzzBytes(std::string_view bytes) : bytes_(bytes) {}

  Result<std::optional<std::uint8_t>> next(bool wait) override {
    if (pos_ < bytes_.size() && bytes_[pos_] == 0x1f) {
      if (!wait) return std::optional<std::uint8_t>();
      ++pos_;
      return next(wait);
    }
    if (pos_ >= bytes_.size()) {
      if (!wait) return std::optional<std::uint8_t>();
      return fail(Error(ErrorKind::UnexpectedEof, "Reached end of file"));
    }
    return std::optional<std::uint8_t>(static_cast<std::uint8_t>(bytes_[pos_++]));
  }

  Result<std::string> read_some(std::size_t count) override {
    std::string out;
    while (out.size() < count) {
      auto b = next(out.empty());
      if (!b) return std::unexpected(std::move(b).error());
      if (!*b) break;
      out += static_cast<char>(**b);
    }
    return out;
  }

  void unread_last() override { --pos_; }

  bool at_end() const { return pos_ >= bytes_.size(); }
  std::size_t pos() const { return pos_; }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};
