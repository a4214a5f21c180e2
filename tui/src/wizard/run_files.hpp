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
  /// Creates "{dir}/{prefix}XXXXXX{suffix}", dir from TMPDIR (else /tmp),
  /// made absolute.
  static Result<TempFile> create(std::string_view prefix, std::string_view suffix);
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

struct RunFiles {
  // Declared so that the inventory is destroyed (deleted) first.
  TempFile vars_file;
  std::string vars_path;
  TempFile inventory_file;
  std::string inventory_path;
  std::string project_root;
};

/// The compact JSON document of extra variables.
std::string vars_json(const SetupAnswers& answers, const std::string* key_path);
/// The two-line inventory.
std::string inventory_text(const SshHost& host, const std::string* key_path);

/// Writes both files under a spinner that ends with "Target: {user}@{hostname}".
Result<RunFiles> prepare_run_files(const SetupAnswers& answers);
