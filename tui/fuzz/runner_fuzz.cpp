// The runner's line splitting and colouring. A stand-in ansible-playbook
// prints the fuzzer's bytes on its standard output; what run_playbook writes
// to its own standard output must be what a reference splitter and
// classifier, written here from the rules of Ansible's line shapes, make of
// the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "fuzz_support.hpp"
#include "prompt/unicode.hpp"
#include "wizard/playbook_runner.hpp"

namespace {

namespace fs = std::filesystem;

bool after_blanks_starts_with(std::string_view line, std::string_view prefix) {
  return unicode::trim_start(line).starts_with(prefix);
}

// The line coloured by its own shape; `shaped` tells whether it begins with
// one of the prefixes.
std::string reference_colour(std::string_view line, bool& shaped) {
  std::string style = "\x1b[2m";  // anything else: dimmed
  static const struct {
    std::string_view prefix, style;
  } shapes[] = {
      {"PLAY RECAP", "\x1b[1m\x1b[1;37m"}, {"PLAY [", "\x1b[1m\x1b[1;37m"}, {"PLAY *", "\x1b[1m\x1b[1;37m"},
      {"TASK [", "\x1b[1;36m"},           {"ok:", "\x1b[1;32m"},            {"changed:", "\x1b[1;33m"},
      {"failed:", "\x1b[1;31m"},          {"fatal:", "\x1b[1;31m"},         {"skipping:", "\x1b[2m"},
      {"unreachable:", "\x1b[1;31m"},
  };
  bool matched = false;
  for (const auto& s : shapes)
    if (after_blanks_starts_with(line, s.prefix)) {
      style = s.style;
      matched = true;
      break;
    }
  shaped = matched;
  if (!matched && line.find("ok=") != std::string_view::npos && line.find("failed=") != std::string_view::npos)
    style = "\x1b[1m\x1b[1;33m";  // the recap line of a host
  return style + std::string(line) + "\x1b[0m";
}

std::string reference(std::string_view out) {
  std::string want;
  // Inside a failed task's result, from "fatal: ... => {" or "failed: ... => {"
  // to "}": red, unless a line begins with a prefix of its own, which ends
  // the result.
  bool in_failure = false;
  while (!out.empty()) {
    const std::size_t nl = out.find('\n');
    std::string_view line = out.substr(0, nl);
    if (nl != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    if (!line.empty() && unicode::is_valid_utf8(line)) {
      bool shaped = false;
      std::string coloured = reference_colour(line, shaped);
      const std::string_view t = unicode::trim_start(line);
      if (in_failure && !shaped) {
        coloured = "\x1b[1;31m" + std::string(line) + "\x1b[0m";
        in_failure = line != "}";
      } else {
        in_failure = (t.starts_with("fatal:") || t.starts_with("failed:")) && line.ends_with("=> {");
      }
      want += "│  " + coloured + "\n";
    }
    out = nl == std::string_view::npos ? std::string_view() : out.substr(nl + 1);
  }
  return want;
}

struct Stage {
  fs::path dir, feed;
  Stage() {
    char tmpl[] = "/tmp/tervane-runner-fuzz.XXXXXX";
    dir = ::mkdtemp(tmpl);
    feed = dir / "feed";
    std::ofstream(dir / "ansible-playbook") << "#!/bin/sh\nexec cat '" << feed.string() << "'\n";
    fs::permissions(dir / "ansible-playbook", fs::perms::owner_all);
    ::setenv("PATH", (dir.string() + ":/usr/bin:/bin").c_str(), 1);
  }
  ~Stage() { fs::remove_all(dir); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Stage stage;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(stage.feed, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));

  // Standard output into a memory file for the length of the run.
  const int mem = ::memfd_create("runner-out", MFD_CLOEXEC);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(mem, STDOUT_FILENO);
  const auto result = run_playbook("p.yml", "hosts.ini", "vars.json", stage.dir.string());
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  FUZZ_CHECK(result.has_value(), "%s", result ? "" : result.error().message().c_str());

  std::string got(static_cast<std::size_t>(::lseek(mem, 0, SEEK_END)), '\0');
  FUZZ_CHECK(::pread(mem, got.data(), got.size(), 0) == static_cast<ssize_t>(got.size()));
  ::close(mem);
  const std::string want = reference(bytes);
  FUZZ_CHECK(got == want, "got  %s\nwant %s", readable(got).c_str(), readable(want).c_str());
  return 0;
}
