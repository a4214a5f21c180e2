#include "wizard/environment.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "prompt/unicode.hpp"

namespace fs = std::filesystem;

std::optional<std::string> home_dir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return std::string(home);

  // getpwuid_r wants a buffer whose size only sysconf can suggest.
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (true) {
    int rc = getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1U << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return std::nullopt;
    break;
  }
  if (found->pw_dir == nullptr || *found->pw_dir == '\0') return std::nullopt;
  return std::string(found->pw_dir);
}

std::string expand_tilde(std::string_view path) {
  if (!path.starts_with("~/")) return std::string(path);
  auto home = home_dir();
  if (!home) return std::string(path);
  // Path joining: an absolute rest replaces the home, an empty one adds "/".
  fs::path joined = fs::path(*home) / fs::path(std::string(path.substr(2)));
  return unicode::lossy(joined.native());
}

namespace {

// A PATH entry whose first component is exactly "~" starts at the home directory.
std::string expand_path_entry(std::string_view entry) {
  if (entry == "~" || entry.starts_with("~/")) {
    if (auto home = home_dir())
      return (fs::path(*home) / fs::path(std::string(entry.substr(entry.size() > 1 ? 2 : 1)))).native();
  }
  return std::string(entry);
}

bool is_executable_file(const std::string& candidate) {
  struct stat st {};
  if (stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return access(candidate.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::string> find_on_path(std::string_view name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::string_view rest(path);
  while (true) {
    std::size_t colon = rest.find(':');
    std::string_view entry = rest.substr(0, colon);
    // An empty entry means the current directory, as the shell treats it.
    std::string dir = expand_path_entry(entry);
    std::string candidate = dir.empty() ? std::string(name) : (fs::path(dir) / fs::path(std::string(name))).native();
    if (is_executable_file(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

bool path_present(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec) && !ec;
}
