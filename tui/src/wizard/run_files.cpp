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

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kNameAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kRandomChars = 6;
constexpr int kMaxAttempts = 65536;
constexpr char kHex[] = "0123456789abcdef";

// Two lower-case hexadecimal digits of `b`.
void append_hex(std::string& out, unsigned char b) {
  out += kHex[b >> 4];
  out += kHex[b & 0xf];
}

// `path` in double quotes, with quotes, backslashes and control characters
// escaped, as the error texts show it.
std::string quoted_path(std::string_view path) {
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
          append_hex(out, b);
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// Makes a new entry "{dir}/{prefix}XXXXXX{suffix}" with `make(path)`, which
// returns false with errno set when it fails; a name already taken is drawn
// again. Returns the path made.
template <class Make>
Result<std::string> create_unique(std::string_view prefix, std::string_view suffix, const std::string& in, Make make) {
  const fs::path dir = in.empty() ? temp_dir() : fs::path(in);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    auto chars = random_chars();
    if (!chars) return fail(std::move(chars).error());
    std::string path = (dir / (std::string(prefix) + *chars + std::string(suffix))).string();
    if (make(path)) return path;
    if (errno == EEXIST || errno == EADDRINUSE) continue;
    return fail(error_at(Error::from_errno(errno), path));
  }
  return fail(Error(ErrorKind::System, "too many temporary files exist at path " + quoted_path(dir.native())));
}

}  // namespace

Result<TempFile> TempFile::create(std::string_view prefix, std::string_view suffix, const std::string& dir) {
  TempFile file;
  auto path = create_unique(prefix, suffix, dir, [&file](const std::string& p) {
    const int fd = sys::retry_eintr([&] { return ::open(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); });
    if (fd < 0) return false;
    file.fd_ = sys::Fd(fd);
    return true;
  });
  if (!path) return fail(std::move(path).error());
  file.path_ = std::move(*path);
  // So that a signal ending the process still removes the secrets.
  file.slot_ = signal_guard::register_file(file.path_);
  return file;
}

Result<PrivateDir> PrivateDir::create(std::string_view prefix) {
  auto path = create_unique(prefix, "", {}, [](const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0; });
  if (!path) return fail(std::move(path).error());
  PrivateDir dir;
  dir.path_ = std::move(*path);
  dir.slot_ = signal_guard::register_file(dir.path_);
  return dir;
}

PrivateDir::PrivateDir(PrivateDir&& other) noexcept
    : path_(std::exchange(other.path_, {})), slot_(std::exchange(other.slot_, -1)) {}

PrivateDir::~PrivateDir() { release(); }

void PrivateDir::release() {
  if (!path_.empty()) (void)::rmdir(path_.c_str());  // its files are gone by now
  path_.clear();
  signal_guard::unregister_file(std::exchange(slot_, -1));
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

namespace {

// Whether Ansible's reading of an inventory line would change `text`: it
// splits the line at white space like a shell (quotes and backslashes
// taken away, "#" starting a comment), a ";" first on the line makes it a
// comment, a variable is cut at its first "=", and its value is evaluated
// as a Python literal where it is one.
bool needs_quoting(std::string_view text) {
  if (text.find_first_of("\"'=#;\\") != std::string_view::npos) return true;
  while (!text.empty()) {
    const auto d = unicode::decode(text);
    if (unicode::is_white_space(d.ch)) return true;
    text.remove_prefix(d.length);
  }
  return false;
}

// `text` as one word of a shell-like split: in single quotes, or in double
// quotes with '"' and '\' escaped when it holds a single quote itself.
std::string shell_word(std::string_view text) {
  if (text.find('\'') == std::string_view::npos) return "'" + std::string(text) + "'";
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

// A variable's value as Ansible reads it back: unchanged when that is
// exactly the text, else a Python string literal (in double quotes; a
// single quote and control characters as \xNN) in single quotes, which
// the split takes away and the evaluation turns into the text again.
std::string inventory_value(std::string_view text) {
  if (!needs_quoting(text)) return std::string(text);
  std::string out = "'\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\'' || b < 0x20 || b == 0x7f) {
      out += "\\x";
      append_hex(out, b);
    } else {
      out += c;
    }
  }
  return out + "\"'";
}

}  // namespace

std::string inventory_text(const SshHost& host, const std::string* key_path) {
  // The host name is the first word of the line and is not evaluated.
  std::string line = (needs_quoting(host.name) ? shell_word(host.name) : host.name) +
                     " ansible_host=" + inventory_value(host.hostname) + " ansible_user=" + inventory_value(host.user);
  if (host.port != 0) line += " ansible_port=" + std::to_string(host.port);
  if (key_path) line += " ansible_ssh_private_key_file=" + inventory_value(unicode::lossy(*key_path));
  // Ansible splits these arguments once more before it passes them to ssh.
  const std::string ssh_args = "-o StrictHostKeyChecking=no";
  line += " ansible_ssh_common_args=" +
          (host.proxy.empty() ? "'" + ssh_args + "'" : inventory_value(ssh_args + " -o " + shell_word(host.proxy)));
  return "[workstation]\n" + line + "\n";
}

Result<RunFiles> prepare_run_files(const SetupAnswers& answers) {
  ProgressBar bar = spinner();
  bar.start("Preparing dynamic configuration…");

  const std::string key = expand_tilde(answers.host.identity_file);
  struct stat st {};
  const bool key_present = ::stat(key.c_str(), &st) == 0;
  const std::string* key_path = key_present ? &key : nullptr;

  auto dir = PrivateDir::create("tervane-run-");
  if (!dir) return fail(std::move(dir).error());
  auto vars = TempFile::create("tervane-vars-", ".json", dir->path());
  if (!vars) return fail(std::move(vars).error());
  if (auto r = vars->write_all(vars_json(answers, key_path)); !r) return fail(std::move(r).error());

  auto inventory = TempFile::create("tervane-hosts-", ".ini", dir->path());
  if (!inventory) return fail(std::move(inventory).error());
  if (auto r = inventory->write_all(inventory_text(answers.host, key_path)); !r) return fail(std::move(r).error());

  bar.finish_with_state("Target: " + answers.host.user + "@" + answers.host.hostname, ThemeState::Submit);
  return RunFiles{std::move(*dir), std::move(*vars), std::move(*inventory)};
}
