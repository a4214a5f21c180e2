#include "support/temp_dir.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base && *base ? base : "/tmp") + std::string("/tervane-test-XXXXXX");
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = fs::canonical(pattern);  // compares equal to what a program resolves
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Tests may leave directories without write or search permission behind.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
  chmod(path_.c_str(), 0700);
  fs::remove_all(path_, ec);
}

TempDir::TempDir(TempDir&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }

fs::path TempDir::operator/(const fs::path& relative) const { return path_ / relative; }

fs::path TempDir::write_file(const fs::path& file, std::string_view text, mode_t mode) const {
  const fs::path full = path_ / file;
  fs::create_directories(full.parent_path());
  {
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    if (!out.write(text.data(), static_cast<std::streamsize>(text.size())))
      throw std::runtime_error("cannot write " + full.string());
  }
  if (chmod(full.c_str(), mode) != 0) throw std::runtime_error("cannot chmod " + full.string());
  return full;
}

std::string TempDir::read_file(const fs::path& file) const { return ::read_file(path_ / file); }

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream all;
  if (in) all << in.rdbuf();
  return all.str();
}
