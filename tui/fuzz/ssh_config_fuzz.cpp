// The ~/.ssh/config reader on any text: it never fails, returns the same
// hosts each time, and every host it returns has a name and a host name
// without line breaks, in valid UTF-8 when the text is (the file reader
// hands over only valid UTF-8).
#include "fuzz_support.hpp"
#include "prompt/unicode.hpp"
#include "wizard/ssh_hosts.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto hosts = parse_ssh_config(text);
  const bool utf8 = unicode::is_valid_utf8(text);
  FUZZ_CHECK(hosts == parse_ssh_config(text));
  for (const auto& h : hosts) {
    FUZZ_CHECK(!h.name.empty() && !h.hostname.empty());
    for (const std::string* s : {&h.name, &h.hostname, &h.user, &h.identity_file}) {
      FUZZ_CHECK(!utf8 || unicode::is_valid_utf8(*s));
      FUZZ_CHECK(s->find('\n') == std::string::npos, "%s", readable(*s).c_str());
    }
  }
  return 0;
}
