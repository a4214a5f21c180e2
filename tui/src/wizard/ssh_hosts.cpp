#include "wizard/ssh_hosts.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "prompt/unicode.hpp"
#include "wizard/environment.hpp"

namespace fs = std::filesystem;

std::optional<SshHost> into_ssh_host(const PartialHost& partial) {
  if (partial.hostname.empty()) return std::nullopt;
  SshHost host{partial.name, partial.hostname, partial.user, partial.identity_file};
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
  PartialHost current;
  bool in_block = false;  // a Host line naming one machine opened `current`
  auto finish = [&] {
    if (in_block) {
      if (auto host = into_ssh_host(current)) hosts.push_back(std::move(*host));
      in_block = false;
    }
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

    if (keyword == "host") {
      finish();
      // Patterns and lists of several hosts name no single machine; their
      // whole block is skipped (a tab does not separate names here).
      if (value.find_first_of("*? ") == std::string::npos) {
        current = PartialHost{value, "", "", ""};
        in_block = true;
      }
    } else if (in_block) {
      if (keyword == "hostname")
        current.hostname = std::move(value);
      else if (keyword == "user")
        current.user = std::move(value);
      else if (keyword == "identityfile")
        current.identity_file = std::move(value);
    }
  }
  finish();
  return hosts;
}

std::vector<SshHost> read_ssh_hosts() {
  auto home = home_dir();
  fs::path config = fs::path(home ? *home : std::string("~")) / ".ssh" / "config";
  struct stat st {};
  if (stat(config.c_str(), &st) != 0) return {};
  std::ifstream in(config, std::ios::binary);
  if (!in) return {};
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) return {};
  std::string text = std::move(buf).str();
  if (!unicode::is_valid_utf8(text)) return {};
  return parse_ssh_config(text);
}
