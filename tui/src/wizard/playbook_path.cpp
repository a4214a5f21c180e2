// playbook_path.cpp: the project root derived from the executable's own path,
// and the playbooks found under it.
#include "wizard/playbook_path.hpp"

#include <filesystem>
#include <string>
#include <system_error>

#include "prompt/unicode.hpp"

namespace fs = std::filesystem;

namespace {

// The executable is {root}/tui/build/{preset}/bin/tervane-wizard: the root is
// its fifth parent.
constexpr int kParentsAboveExecutable = 5;

}  // namespace

Result<std::string> project_root_from_path(std::string_view executable) {
  // Empty and "." components are no levels; neither is a trailing slash.
  fs::path current = fs::path(executable).lexically_normal();
  if (!current.has_filename()) current = current.parent_path();
  for (int i = 0; i < kParentsAboveExecutable; ++i) {
    if (!current.has_relative_path()) return fail("Cannot resolve project root from binary path");
    current = current.parent_path();
  }
  return current.string();
}

Result<std::string> project_root_from_binary() {
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) return fail(Error::from_errno(error.value()).context("Cannot determine binary path"));
  return project_root_from_path(executable.native());
}

Result<std::string> resolve_playbook(std::string_view root, std::string_view name) {
  const std::string path = (fs::path(root) / name).string();
  std::error_code error;
  if (fs::exists(path, error)) return path;
  return fail("Playbook not found: " + std::string(name) + "\nExpected at: " + unicode::lossy(path));
}
