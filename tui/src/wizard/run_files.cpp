// run_files.cpp: the temporary inventory and variables files handed to
// ansible-playbook, created exclusively with mode 0600 and unlinked by their
// owners.
#include "wizard/run_files.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "prompt/signals.hpp"
#include "prompt/spinner.hpp"
#include "prompt/sys.hpp"
#include "prompt/unicode.hpp"
#include "wizard/environment.hpp"
#include "wizard/playbook_path.hpp"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kNameAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kRandomChars = 6;
constexpr int kMaxAttempts = 65536;

// `path` in double quotes, with quotes, backslashes and control characters
// escaped, as the error texts show it.
std::string quoted_path(std::string_view path) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char32_t c : unicode::to_u32(unicode::lossy(path)).value_or(U"")) {
    switch (c) {
      case U'"': out += "\\\""; break;
      case U'\\': out += "\\\\"; break;
      case U'\n': out += "\\n"; break;
      case U'\r': out += "\\r"; break;
      case U'\t': out += "\\t"; break;
      case U'\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\u{";
          if (c >= 0x10) out += kHex[c >> 4];
          out += kHex[c & 0xf];
          out += '}';
        } else {
          unicode::append_utf8(out, c);
        }
    }
  }
  out += '"';
  return out;
}

Error error_at(const Error& error, std::string_view path) {
  return Error(ErrorKind::System, error.message() + " at path " + quoted_path(path));
}

// Six characters drawn uniformly from the 62 letters and digits. Bytes of
// 248 and above are rejected: 248 is the largest multiple of 62 below 256.
// Fails only when the system has no randomness to give (getrandom refused).
Result<std::string> random_chars() {
  std::string out;
  std::array<unsigned char, 32> pool{};
  while (out.size() < kRandomChars) {
    const ssize_t n = sys::retry_eintr([&] { return getrandom(pool.data(), pool.size(), 0); });
    if (n < 0) return fail_errno(errno);
    for (ssize_t i = 0; i < n && out.size() < kRandomChars; ++i)
      if (pool[static_cast<std::size_t>(i)] < 248) out += kNameAlphabet[pool[static_cast<std::size_t>(i)] % 62];
  }
  return out;
}

// TMPDIR (else /tmp), made absolute against the current directory.
fs::path temp_dir() {
  const char* env = std::getenv("TMPDIR");
  fs::path dir = env ? env : "/tmp";
  if (dir.is_absolute()) return dir;
  std::error_code error;
  fs::path cwd = fs::current_path(error);
  if (error) return dir;
  return dir.empty() ? cwd : cwd / dir;
}

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (b < 0x20) {
          out += "\\u00";
          out += kHex[b >> 4];
          out += kHex[b & 0xf];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace

Result<TempFile> TempFile::create(std::string_view prefix, std::string_view suffix) {
  const fs::path dir = temp_dir();
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    auto chars = random_chars();
    if (!chars) return fail(std::move(chars).error());
    std::string path = (dir / (std::string(prefix) + *chars + std::string(suffix))).string();
    sys::Fd fd(sys::retry_eintr([&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); }));
    if (!fd) {
      if (errno == EEXIST || errno == EADDRINUSE) continue;
      return fail(error_at(Error::from_errno(errno), path));
    }
    TempFile file;
    file.path_ = std::move(path);
    file.fd_ = std::move(fd);
    // So that a signal ending the process still removes the secrets.
    file.slot_ = signal_guard::register_file(file.path_);
    return file;
  }
  return fail(Error(ErrorKind::System, "too many temporary files exist at path " + quoted_path(dir.native())));
}

TempFile::TempFile(TempFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), slot_(std::exchange(other.slot_, -1)) {
  other.path_.clear();
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::move(other.path_);
    other.path_.clear();
    fd_ = std::move(other.fd_);
    slot_ = std::exchange(other.slot_, -1);
  }
  return *this;
}

TempFile::~TempFile() { release(); }

void TempFile::release() {
  fd_.reset();
  if (!path_.empty()) {
    (void)::unlink(path_.c_str());  // a file someone else removed is fine
    path_.clear();
  }
  if (slot_ >= 0) {
    signal_guard::unregister_file(slot_);
    slot_ = -1;
  }
}

Result<void> TempFile::write_all(std::string_view text) {
  if (auto r = sys::write_all(fd_.get(), text); !r) return fail(error_at(r.error(), path_));
  return {};
}

std::string vars_json(const SetupAnswers& answers, const std::string* key_path) {
  // Members in ascending byte order of their keys.
  std::string out = "{";
  auto member = [&out](std::string_view key, std::string_view value) {
    if (out.size() > 1) out += ',';
    append_json_string(out, key);
    out += ':';
    append_json_string(out, value);
  };
  auto flag = [&out](std::string_view key) {
    out += ',';
    append_json_string(out, key);
    out += ":true";
  };
  member("ansible_become_password", answers.sudo_password);
  member("ansible_host", answers.host.hostname);
  if (key_path) member("ansible_ssh_private_key_file", unicode::lossy(*key_path));
  member("ansible_user", answers.host.user);
  member("default_password", answers.target_password);
  member("default_user", answers.target_user);
  member("local_tervane_path", unicode::lossy(answers.configs_dir));
  flag("local_transfer_mode");
  member("local_wallpapers_path", unicode::lossy(answers.wallpapers_dir));
  flag("noninteractive");
  out += '}';
  return out;
}

std::string inventory_text(const SshHost& host, const std::string* key_path) {
  std::string line = host.name + " ansible_host=" + host.hostname + " ansible_user=" + host.user;
  if (host.port != 0) line += " ansible_port=" + std::to_string(host.port);
  if (key_path) line += " ansible_ssh_private_key_file=" + *key_path;
  return "[workstation]\n" + line + " ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n";
}

Result<RunFiles> prepare_run_files(const SetupAnswers& answers) {
  ProgressBar bar = spinner();
  bar.start("Preparing dynamic configuration…");

  const std::string key = expand_tilde(answers.host.identity_file);
  struct stat st {};
  const bool key_present = ::stat(key.c_str(), &st) == 0;
  const std::string* key_path = key_present ? &key : nullptr;

  auto vars = TempFile::create("tervane-vars-", ".json");
  if (!vars) return fail(std::move(vars).error());
  if (auto r = vars->write_all(vars_json(answers, key_path)); !r) return fail(std::move(r).error());

  auto inventory = TempFile::create("tervane-hosts-", ".ini");
  if (!inventory) return fail(std::move(inventory).error());
  if (auto r = inventory->write_all(inventory_text(answers.host, key_path)); !r) return fail(std::move(r).error());

  auto root = project_root_from_binary();
  if (!root) return fail(std::move(root).error());

  bar.finish_with_state("Target: " + answers.host.user + "@" + answers.host.hostname, ThemeState::Submit);

  std::string vars_path = vars->path();
  std::string inventory_path = inventory->path();
  return RunFiles{std::move(*vars), std::move(vars_path), std::move(*inventory), std::move(inventory_path),
                  std::move(*root)};
}
