// The run files' writers. The variables document, parsed back by a strict
// JSON parser written here, holds exactly the answers given (paths that are
// not UTF-8 in their lossy form); the inventory is always two lines.
#include <algorithm>
#include <map>
#include <vector>

#include "fuzz_support.hpp"
#include "prompt/unicode.hpp"
#include "wizard/run_files.hpp"

namespace {

// A strict JSON parser for one object whose values are strings or true.
class Json {
 public:
  explicit Json(std::string_view s) : s_(s) {}

  std::map<std::string, std::string> object() {
    std::map<std::string, std::string> members;
    expect('{');
    if (peek() == '}') {
      ++i_;
    } else {
      for (;;) {
        std::string key = string();
        expect(':');
        std::string value;
        if (peek() == '"') {
          value = string();
        } else {
          FUZZ_CHECK(s_.substr(i_, 4) == "true", "value at %zu", i_);
          i_ += 4;
          value = "<true>";
        }
        FUZZ_CHECK(members.emplace(key, value).second, "duplicate key %s", key.c_str());
        if (peek() == ',') { ++i_; continue; }
        expect('}');
        break;
      }
    }
    FUZZ_CHECK(i_ == s_.size(), "text after the object at %zu", i_);
    return members;
  }

 private:
  char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  void expect(char c) {
    FUZZ_CHECK(peek() == c, "'%c' expected at %zu", c, i_);
    ++i_;
  }
  unsigned hex4() {
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = peek();
      ++i_;
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<unsigned>(c - 'A' + 10);
      else FUZZ_CHECK(false, "bad \\u escape");
    }
    return v;
  }
  std::string string() {
    expect('"');
    const std::size_t start = i_;
    std::string out;
    for (;;) {
      FUZZ_CHECK(i_ < s_.size(), "unterminated string from %zu", start);
      const auto c = static_cast<unsigned char>(s_[i_++]);
      if (c == '"') break;
      FUZZ_CHECK(c >= 0x20, "raw control byte 0x%02x in a string", c);
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const char e = peek();
      ++i_;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned v = hex4();
          if (v >= 0xD800 && v < 0xDC00) {
            expect('\\');
            expect('u');
            const unsigned lo = hex4();
            FUZZ_CHECK(lo >= 0xDC00 && lo < 0xE000, "lone high surrogate");
            v = 0x10000 + ((v - 0xD800) << 10) + (lo - 0xDC00);
          } else {
            FUZZ_CHECK(!(v >= 0xDC00 && v < 0xE000), "lone low surrogate");
          }
          unicode::append_utf8(out, static_cast<char32_t>(v));
          break;
        }
        default: FUZZ_CHECK(false, "bad escape \\%c", e);
      }
    }
    FUZZ_CHECK(unicode::is_valid_utf8(out), "string at %zu is not UTF-8", start);
    return out;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// The input cut at byte 0 into fields.
std::vector<std::string> fields(std::string_view s, std::size_t n) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const std::size_t cut = s.find('\0');
    out.emplace_back(s.substr(0, cut));
    s = cut == std::string_view::npos ? std::string_view() : s.substr(cut + 1);
  }
  out.emplace_back(s);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto f = fields(std::string_view(reinterpret_cast<const char*>(data), size), 9);
  // What the prompts and the config reader give is valid UTF-8; paths may be
  // any bytes.
  SetupAnswers a;
  a.host.name = unicode::lossy(f[0]);
  a.host.hostname = unicode::lossy(f[1]);
  a.host.user = unicode::lossy(f[2]);
  a.target_user = unicode::lossy(f[3]);
  a.target_password = unicode::lossy(f[4]);
  a.sudo_password = unicode::lossy(f[5]);
  a.configs_dir = f[6];
  a.wallpapers_dir = f[7];
  const std::string key = f[8];
  for (const std::string* key_path : {&key, static_cast<const std::string*>(nullptr)}) {
    const std::string doc = vars_json(a, key_path);
    auto got = Json(doc).object();
    std::map<std::string, std::string> want = {
        {"ansible_become_password", a.sudo_password},
        {"ansible_host", a.host.hostname},
        {"ansible_user", a.host.user},
        {"default_password", a.target_password},
        {"default_user", a.target_user},
        {"local_tervane_path", unicode::lossy(a.configs_dir)},
        {"local_transfer_mode", "<true>"},
        {"local_wallpapers_path", unicode::lossy(a.wallpapers_dir)},
        {"noninteractive", "<true>"},
    };
    if (key_path) want["ansible_ssh_private_key_file"] = unicode::lossy(key);
    FUZZ_CHECK(got == want, "%s", readable(doc).c_str());

    // No field the config reader or a prompt gives holds a line break: the
    // inventory is then the group line and one host line, whatever the bytes.
    SshHost host = a.host;
    for (std::string* s : {&host.name, &host.hostname, &host.user}) std::erase_if(*s, [](char c) { return c == '\n'; });
    const std::string ini = inventory_text(host, key_path);
    FUZZ_CHECK(ini.ends_with(" ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n"));
    FUZZ_CHECK(std::count(ini.begin(), ini.end(), '\n') == 2);  // a key path's line feeds are quoted
  }
  return 0;
}
