// Tests of the playbook runner: line colouring, and whole runs of a stand-in
// ansible-playbook whose output, exit status and death are scripted.
#include "wizard/playbook_runner.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

#define RAIL "│  "
#define BOLD "\x1b[1m"
#define DIM "\x1b[2m"
#define RESET "\x1b[0m"
#define YELLOW "\x1b[1;33m"
#define RED "\x1b[1;31m"
#define GREEN "\x1b[1;32m"
#define CYAN "\x1b[1;36m"
#define WHITE "\x1b[1;37m"

namespace {

// A stand-in ansible-playbook, first on PATH for the life of the object. It
// records its arguments, working directory and PYTHONUNBUFFERED, prints the
// files `out` and `err` of its directory to its standard output and error,
// then runs `ending` (e.g. "exit 2").
class StandIn {
 public:
  explicit StandIn(const std::string& ending = "exit 0") {
    old_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    const fs::path bin = dir_ / "bin";
    dir_.write_file("bin/ansible-playbook",
                    "#!/bin/sh\n"
                    "d='" + dir_.path().string() + "'\n"
                    "printf '%s\\n' \"$@\" > \"$d/argv\"\n"
                    "pwd > \"$d/cwd\"\n"
                    "printf '%s' \"${PYTHONUNBUFFERED-unset}\" > \"$d/unbuffered\"\n"
                    "[ -f \"$d/out\" ] && cat \"$d/out\"\n"
                    "[ -f \"$d/err\" ] && cat \"$d/err\" >&2\n" +
                        ending + "\n",
                    0755);
    setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);
  }
  ~StandIn() { setenv("PATH", old_path_.c_str(), 1); }

  void script(const std::string& out, const std::string& err = "") {
    dir_.write_file("out", out);
    dir_.write_file("err", err);
  }
  std::string recorded(const char* what) const { return dir_.read_file(what); }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string old_path_;
};

// Standard output and error sent to files for one scope.
class Capture {
 public:
  Capture() {
    std::fflush(stdout);
    std::fflush(stderr);
    saved_out_ = ::dup(STDOUT_FILENO);
    saved_err_ = ::dup(STDERR_FILENO);
    redirect(STDOUT_FILENO, out_path());
    redirect(STDERR_FILENO, err_path());
  }
  ~Capture() { restore(); }

  // Puts the terminal streams back, waiting first (up to two seconds) until
  // standard error holds `err_expected`: its reader runs detached.
  void restore(const std::optional<std::string>& err_expected = std::nullopt) {
    if (saved_out_ < 0) return;
    if (err_expected) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (read_file(err_path()) != *err_expected && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::dup2(saved_out_, STDOUT_FILENO);
    ::dup2(saved_err_, STDERR_FILENO);
    ::close(saved_out_);
    ::close(saved_err_);
    saved_out_ = saved_err_ = -1;
  }
  std::string out() const { return read_file(out_path()); }
  std::string err() const { return read_file(err_path()); }

 private:
  fs::path out_path() const { return dir_ / "stdout"; }
  fs::path err_path() const { return dir_ / "stderr"; }
  static void redirect(int fd, const fs::path& file) {
    const int f = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(f, fd);
    ::close(f);
  }
  TempDir dir_;
  int saved_out_ = -1, saved_err_ = -1;
};

Result<void> run_in(const TempDir& root) {
  return run_playbook((root / "playbooks/10-user.yml").string(), "/tmp/inv.ini", "/tmp/vars.json",
                      root.path().string());
}

}  // namespace

TEST(ClassifyLine, ColoursEachKindOfAnsibleLine) {
  const struct {
    const char* line;
    const char* want;
  } cases[] = {
      {"PLAY RECAP *****", BOLD WHITE "PLAY RECAP *****" RESET},
      {"PLAY [workstation] ***", BOLD WHITE "PLAY [workstation] ***" RESET},
      {"PLAY ******", BOLD WHITE "PLAY ******" RESET},
      {"TASK [Gathering Facts] ****", CYAN "TASK [Gathering Facts] ****" RESET},
      {"  ok: [workstation]", GREEN "  ok: [workstation]" RESET},
      {"changed: [workstation]", YELLOW "changed: [workstation]" RESET},
      {"failed: [workstation]", RED "failed: [workstation]" RESET},
      {"\tfatal: [workstation]: FAILED!", RED "\tfatal: [workstation]: FAILED!" RESET},
      {"skipping: [workstation]", DIM "skipping: [workstation]" RESET},
      {"unreachable: [workstation]", RED "unreachable: [workstation]" RESET},
      {"workstation : ok=12 changed=3 unreachable=0 failed=0 skipped=1 rescued=0 ignored=0",
       BOLD YELLOW "workstation : ok=12 changed=3 unreachable=0 failed=0 skipped=1 rescued=0 ignored=0" RESET},
      {"failed=1 then ok=2", BOLD YELLOW "failed=1 then ok=2" RESET},
      {"anything else", DIM "anything else" RESET},
      // Earlier rows win over the summary row.
      {"PLAY RECAP ok=1 failed=0", BOLD WHITE "PLAY RECAP ok=1 failed=0" RESET},
      {"ok: [h] ok=1 failed=0", GREEN "ok: [h] ok=1 failed=0" RESET},
      // Exact, case-sensitive prefixes.
      {"ok:", GREEN "ok:" RESET},
      {"ok", DIM "ok" RESET},
      {"TASK[x]", DIM "TASK[x]" RESET},
      {"task [x]", DIM "task [x]" RESET},
      {"PLAYBOOK: site.yml", DIM "PLAYBOOK: site.yml" RESET},
      {"ok=1 only", DIM "ok=1 only" RESET},
      {"   ", DIM "   " RESET},
      // Unicode white space before the prefix counts as indentation.
      {"\u00a0\u3000TASK [x]", CYAN "\u00a0\u3000TASK [x]" RESET},
  };
  for (const auto& c : cases) EXPECT_EQ(classify_line(c.line), c.want) << c.line;
}

TEST(RunPlaybook, StartsAnsibleWithTheRunFilesInTheProjectRoot) {
  StandIn ansible;
  TempDir root;
  ansible.script("");
  Capture capture;
  auto result = run_in(root);
  capture.restore(std::string());
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(ansible.recorded("argv"), (root / "playbooks/10-user.yml").string() +
                                          "\n-i\n/tmp/inv.ini\n--extra-vars\n@/tmp/vars.json\n");
  EXPECT_EQ(fs::path(ansible.recorded("cwd").substr(0, ansible.recorded("cwd").size() - 1)),
            fs::canonical(root.path()));
  EXPECT_EQ(ansible.recorded("unbuffered"), "1");
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(capture.err(), "");
}

TEST(RunPlaybook, StreamsColouredStdoutAndDimStderrBehindTheRail) {
  StandIn ansible;
  TempDir root;
  setenv("PYTHONUNBUFFERED", "0", 1);  // replaced for the child
  setenv("NO_COLOR", "1", 1);          // colouring ignores it
  const std::string long_line(20000, 'x');
  // A two-byte character split across the first 8192-byte read.
  const std::string straddling = std::string(8191, 'a') + "é";
  ansible.script(
      straddling + "\n"
      "PLAY [workstation] ***\n"
      "\n"
      "TASK [Gathering Facts] ****\r\n"
      "  ok: [workstation]\n"
      "bad \xff\xfe bytes\n"
      "changed: [workstation]\n"
      "failed: [w]\n"
      "fatal: [w]: FAILED!\n"
      "skipping: [w]\n"
      "unreachable: [w]\n"
      "   \n"
      "mid\rline\n" +
          long_line +
          "\n"
          "PLAY RECAP *****\n"
          "workstation : ok=12 changed=3 unreachable=0 failed=0 skipped=1 rescued=0 ignored=0\n"
          "last line without feed",
      "[DEPRECATION WARNING]: old syntax\r\n\n\xc3\n  indented warning");
  Capture capture;
  auto result = run_in(root);
  const std::string want_err = RAIL DIM "[DEPRECATION WARNING]: old syntax" RESET "\n" RAIL DIM
                                        "  indented warning" RESET "\n";
  capture.restore(want_err);
  unsetenv("PYTHONUNBUFFERED");
  unsetenv("NO_COLOR");

  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(ansible.recorded("unbuffered"), "1");
  EXPECT_EQ(capture.out(), RAIL DIM + straddling + RESET "\n"
                           RAIL BOLD WHITE "PLAY [workstation] ***" RESET "\n"
                           RAIL CYAN "TASK [Gathering Facts] ****" RESET "\n"
                           RAIL GREEN "  ok: [workstation]" RESET "\n"
                           RAIL YELLOW "changed: [workstation]" RESET "\n"
                           RAIL RED "failed: [w]" RESET "\n"
                           RAIL RED "fatal: [w]: FAILED!" RESET "\n"
                           RAIL DIM "skipping: [w]" RESET "\n"
                           RAIL RED "unreachable: [w]" RESET "\n"
                           RAIL DIM "   " RESET "\n"
                           RAIL DIM "mid\rline" RESET "\n"
                           RAIL DIM + long_line + RESET "\n"
                           RAIL BOLD WHITE "PLAY RECAP *****" RESET "\n"
                           RAIL BOLD YELLOW "workstation : ok=12 changed=3 unreachable=0 failed=0 skipped=1 "
                           "rescued=0 ignored=0" RESET "\n"
                           RAIL DIM "last line without feed" RESET "\n");
  EXPECT_EQ(capture.err(), want_err);
}

TEST(RunPlaybook, AnyEndingButExitZeroIsAFailureAfterTheFullOutput) {
  const struct {
    const char* ending;
  } cases[] = {{"exit 2"}, {"exit 1"}, {"kill -9 $$"}, {"kill -TERM $$"}};
  for (const auto& c : cases) {
    StandIn ansible(c.ending);
    TempDir root;
    ansible.script("TASK [one] ***\nfatal: [w]: FAILED!\n", "boom\n");
    Capture capture;
    auto result = run_in(root);
    capture.restore(RAIL DIM "boom" RESET "\n");
    ASSERT_FALSE(result.has_value()) << c.ending;
    EXPECT_EQ(result.error().message(), "Playbook failed during execution.") << c.ending;
    EXPECT_TRUE(result.error().causes().empty()) << c.ending;
    EXPECT_EQ(capture.out(), RAIL CYAN "TASK [one] ***" RESET "\n" RAIL RED "fatal: [w]: FAILED!" RESET "\n")
        << c.ending;
    EXPECT_EQ(capture.err(), RAIL DIM "boom" RESET "\n") << c.ending;
  }
}

TEST(RunPlaybook, MissingProgramIsASpawnFailureWithTheSystemCause) {
  TempDir empty;
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", empty.path().c_str(), 1);
  Capture capture;
  auto result = run_in(empty);
  capture.restore();
  setenv("PATH", old_path.c_str(), 1);

  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "Failed to spawn ansible-playbook process");
  EXPECT_EQ(result.error().causes(), std::vector<std::string>{"No such file or directory (os error 2)"});
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(capture.err(), "");

  // A program that is there but may not be executed is refused the same way.
  empty.write_file("ansible-playbook", "#!/bin/sh\nexit 0\n", 0644);
  setenv("PATH", empty.path().c_str(), 1);
  auto refused = run_in(empty);
  setenv("PATH", old_path.c_str(), 1);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message(), "Failed to spawn ansible-playbook process");
  EXPECT_EQ(refused.error().causes(), std::vector<std::string>{"Permission denied (os error 13)"});
}
