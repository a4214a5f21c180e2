#include "wizard/ssh_hosts.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>

#include "prompt/style.hpp"
#include "prompt/sys.hpp"
#include "prompt/unicode.hpp"
#include "wizard/environment.hpp"

namespace fs = std::filesystem;

namespace {

// A port as the block writes it: decimal digits only, 1 to 65535.
std::optional<unsigned> parse_port(std::string_view text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto parsed = std::from_chars(text.data(), end, value);
  if (parsed.ec != std::errc() || parsed.ptr != end || value < 1 || value > 65535) return std::nullopt;
  return value;
}

}  // namespace

std::optional<SshHost> into_ssh_host(SshHost host) {
  if (host.hostname.empty()) return std::nullopt;
  if (host.user.empty()) {
    if (auto user = env_text("USER"))
      host.user = *user;
    else if (auto logname = env_text("LOGNAME"))
      host.user = *logname;
    else
      host.user = "root";
  }
  if (host.identity_file.empty()) {
    if (auto home = home_dir())
      host.identity_file = unicode::lossy((fs::path(*home) / ".ssh" / "id_rsa").native());
    else
      host.identity_file = "~/.ssh/id_rsa";
  }
  return host;
}

namespace {

// Splits `line` at its first White_Space character: the keyword before it and
// the rest after it. Nothing when the line has no white space.
std::optional<std::pair<std::string_view, std::string_view>> split_keyword(std::string_view line) {
  std::size_t at = 0;
  while (at < line.size()) {
    auto d = unicode::decode(line.substr(at));
    if (unicode::is_white_space(d.ch)) return std::pair{line.substr(0, at), line.substr(at + d.length)};
    at += d.length;
  }
  return std::nullopt;
}

}  // namespace

std::vector<SshHost> parse_ssh_config(std::string_view text) {
  std::vector<SshHost> hosts;
  SshHost current;
  bool in_block = false;  // a Host line naming one machine opened `current`
  bool bad_port = false;  // its last Port line is no number from 1 to 65535
  auto finish = [&] {
    if (in_block && !bad_port) {
      if (auto host = into_ssh_host(std::move(current))) hosts.push_back(std::move(*host));
    }
    in_block = false;
  };

  while (!text.empty()) {
    std::size_t lf = text.find('\n');
    std::string_view raw = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (raw.ends_with('\r')) raw.remove_suffix(1);

    std::string_view line = unicode::trim(raw);
    if (line.empty() || line.front() == '#') continue;
    auto parts = split_keyword(line);
    if (!parts) continue;
    std::string keyword = unicode::to_lower(parts->first);
    std::string value(unicode::trim(parts->second));

    if (keyword == "match") {
      // A Match block holds settings for other connections: its lines are
      // skipped up to the next Host line, as a pattern's are.
      finish();
    } else if (keyword == "host") {
      finish();
      // Patterns and lists of several hosts name no single machine; their
      // whole block is skipped (a tab does not separate names here).
      if (value.find_first_of("*? ") == std::string::npos) {
        current = SshHost{value, "", "", ""};
        in_block = true;
        bad_port = false;
      }
    } else if (in_block) {
      if (keyword == "hostname")
        current.hostname = std::move(value);
      else if (keyword == "user")
        current.user = std::move(value);
      else if (keyword == "identityfile")
        current.identity_file = std::move(value);
      else if (keyword == "proxyjump")
        current.proxy = "ProxyJump=" + value;
      else if (keyword == "proxycommand")
        current.proxy = "ProxyCommand=" + value;
      else if (keyword == "port") {
        const auto port = parse_port(value);
        bad_port = !port;
        current.port = port.value_or(0);
      }
    }
  }
  finish();
  return hosts;
}

namespace {

constexpr off_t kMaxConfigBytes = 1 << 20;

// The whole file when it is a regular file (after links) of at most 1 MiB
// that reads without error. Opened without blocking, so a FIFO put there
// cannot hold the wizard; it is refused by its type right after.
std::optional<std::string> read_config(const fs::path& path) {
  const sys::Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxConfigBytes) return std::nullopt;
  // Read to the end rather than to the size seen: the file may change
  // meanwhile, and anything past the limit makes it unreadable. The text
  // grows with what is read, so a small file costs little memory.
  std::string text;
  char chunk[16384];
  for (;;) {
    const ssize_t n = sys::retry_eintr([&] { return ::read(fd.get(), chunk, sizeof chunk); });
    if (n < 0) return std::nullopt;
    if (n == 0) return text;
    if (text.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kMaxConfigBytes)) return std::nullopt;
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::vector<SshHost> read_ssh_hosts() {
  auto home = home_dir();
  fs::path config = fs::path(home ? *home : std::string("~")) / ".ssh" / "config";
  auto text = read_config(config);
  if (!text || !unicode::is_valid_utf8(*text)) return {};
  return parse_ssh_config(*text);
}
