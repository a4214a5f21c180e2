// playbook_path.cpp: the project root derived from the executable's own path,
// and the playbooks found under it.
#include "wizard/playbook_path.hpp"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "prompt/unicode.hpp"

namespace {

// The executable sits four directories below the project root.
constexpr int kLevelsAboveExecutable = 5;

// The path without its last component: "/a" gives "/", "a" gives "", and
// "/" and "" have none. Empty and "." components are not components.
std::optional<std::string> parent_of(std::string_view path) {
  const bool absolute = path.starts_with('/');
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  if (parts.empty()) return std::nullopt;
  parts.pop_back();
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  return out;
}

std::string join(const std::string& root, std::string_view name) {
  if (name.starts_with('/')) return std::string(name);
  if (root.empty()) return std::string(name);
  if (root.ends_with('/')) return root + std::string(name);
  return root + "/" + std::string(name);
}

}  // namespace

Result<std::string> project_root_from_path(std::string_view executable) {
  std::string current(executable);
  for (int i = 0; i < kLevelsAboveExecutable; ++i) {
    auto parent = parent_of(current);
    if (!parent) return fail("Cannot resolve project root from binary path");
    current = std::move(*parent);
  }
  return current;
}

Result<std::string> project_root_from_binary() {
  std::string buf(PATH_MAX, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return fail(Error::from_errno(errno).context("Cannot determine binary path"));
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      break;
    }
    // Possibly truncated: try again with room to spare.
    buf.resize(buf.size() * 2);
  }
  return project_root_from_path(buf);
}

Result<std::string> resolve_playbook(std::string_view name) {
  auto root = project_root_from_binary();
  if (!root) return std::unexpected(std::move(root).error());
  std::string path = join(*root, name);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return path;
  return fail("Playbook not found: " + std::string(name) + "\nExpected at: " + unicode::lossy(path));
}
