// run_files.hpp: the temporary inventory and variables files of one setup run.
#pragma once

#include <string>
#include <string_view>

#include "prompt/error.hpp"
#include "prompt/sys.hpp"
#include "wizard/questions.hpp"

/// A file created exclusively with mode 0600 under a random name; unlinked
/// when its owner is destroyed (and by the signal guard if a signal ends the
/// process first).
class TempFile {
 public:
  /// Creates "{dir}/{prefix}XXXXXX{suffix}"; an empty `dir` is TMPDIR (else
  /// /tmp), made absolute.
  static Result<TempFile> create(std::string_view prefix, std::string_view suffix, const std::string& dir = {});
  TempFile(TempFile&&) noexcept;
  TempFile& operator=(TempFile&&) noexcept;
  ~TempFile();

  /// Writes all of `text`; errors carry " at path \"...\"".
  Result<void> write_all(std::string_view text);
  const std::string& path() const { return path_; }

 private:
  TempFile() = default;
  void release();
  std::string path_;
  sys::Fd fd_;
  int slot_ = -1;
};

/// A directory only its owner can enter (mode 0700), created under a random
/// name in TMPDIR (else /tmp) to hold the run files: nobody else can put
/// anything beside them (Ansible reads host_vars/ and group_vars/ next to an
/// inventory). Removed when its owner is destroyed, and by the signal guard
/// after the files in it.
class PrivateDir {
 public:
  static Result<PrivateDir> create(std::string_view prefix);
  PrivateDir(PrivateDir&&) noexcept;
  ~PrivateDir();
  const std::string& path() const { return path_; }

 private:
  PrivateDir() = default;
  void release();
  std::string path_;
  int slot_ = -1;
};

/// The two files of one setup path, and the directory that holds them.
struct RunFiles {
  // Declared so that the inventory is destroyed (deleted) first, and the
  // directory that holds both last.
  PrivateDir dir;
  TempFile vars_file;
  TempFile inventory_file;
};

/// The compact JSON document of extra variables.
std::string vars_json(const SetupAnswers& answers, const std::string* key_path);
/// The two-line inventory. A value that Ansible would not read back as it is
/// (white space, a quote, "=", "#", ";" or a backslash in it) is quoted.
std::string inventory_text(const SshHost& host, const std::string* key_path);

/// Writes both files, in a new PrivateDir, under a spinner that ends with "Target: {user}@{hostname}".
Result<RunFiles> prepare_run_files(const SetupAnswers& answers);
