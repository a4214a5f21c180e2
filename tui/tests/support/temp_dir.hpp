// temp_dir.hpp: a fresh directory for one test, removed with all it holds.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

class TempDir {
 public:
  /// Creates a new directory under $TMPDIR (or /tmp), in canonical form.
  TempDir();
  ~TempDir();
  TempDir(TempDir&& other) noexcept;
  TempDir& operator=(TempDir&&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// `relative` inside the directory (an absolute path is taken as it is).
  std::filesystem::path operator/(const std::filesystem::path& relative) const;

  /// Writes `text` to `file` (relative or absolute), creating missing parent
  /// directories, with mode `mode`. Returns the full path.
  std::filesystem::path write_file(const std::filesystem::path& file, std::string_view text,
                                   mode_t mode = 0644) const;
  /// The whole content of `file` (relative or absolute); "" when unreadable.
  std::string read_file(const std::filesystem::path& file) const;

 private:
  std::filesystem::path path_;
};

/// The whole content of a file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path& file);
