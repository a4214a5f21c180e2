// The signal guard, observed from outside: each case runs in a child process
// and the parent looks at how it ended, what it wrote and which files remain.
#include "prompt/signals.hpp"

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "prompt/term.hpp"
#include "support/child.hpp"
#include "support/pty_pair.hpp"
#include "support/readable.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string secret(const TempDir& dir, const std::string& name) { return dir.write_file(name, "secret\n"); }

}  // namespace

TEST(SignalGuard, CleansUpThenDiesByTheSameSignal) {
  const struct {
    int sig;
    bool cursor_hidden;
    std::string err;
  } cases[] = {
      {SIGTERM, true, "\x1b[?25h"}, {SIGHUP, true, "\x1b[?25h"}, {SIGINT, true, "\x1b[?25h"},
      {SIGINT, false, ""},          {SIGTERM, false, ""},
      // Every other signal that ends a process by default.
      {SIGQUIT, true, "\x1b[?25h"}, {SIGPIPE, true, "\x1b[?25h"}, {SIGUSR1, true, "\x1b[?25h"},
      {SIGUSR2, false, ""},         {SIGALRM, false, ""},          {SIGXCPU, false, ""},
      {SIGXFSZ, false, ""},         {SIGRTMIN + 2, true, "\x1b[?25h"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string vars = secret(dir, "vars.json");
    const std::string released = secret(dir, "released.ini");
    const auto end = run_child([&] {
      signal_guard::install();
      signal_guard::install();  // a second call changes nothing
      if (signal_guard::register_file(vars) < 0) return 2;
      const int slot = signal_guard::register_file(released);
      if (slot < 0) return 3;
      signal_guard::unregister_file(slot);
      signal_guard::set_cursor_hidden(c.cursor_hidden);
      ::raise(c.sig);
      return 0;
    });
    const std::string label = std::string(strsignal(c.sig)) + (c.cursor_hidden ? ", cursor hidden" : "");
    ASSERT_TRUE(WIFSIGNALED(end.status)) << label << ": " << end.describe();
    EXPECT_EQ(WTERMSIG(end.status), c.sig) << label;
    EXPECT_FALSE(fs::exists(vars)) << label;
    EXPECT_TRUE(fs::exists(released)) << label;
    EXPECT_EQ(end.output, c.err) << label;
  }

  // A signal ignored when the process started (nohup) stays ignored.
  TempDir dir;
  const std::string vars = secret(dir, "vars.json");
  const auto end = run_child([&] {
    ::signal(SIGHUP, SIG_IGN);
    signal_guard::install();
    if (signal_guard::register_file(vars) < 0) return 2;
    ::raise(SIGHUP);
    return 0;
  });
  EXPECT_TRUE(WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0) << end.describe();
  EXPECT_TRUE(fs::exists(vars));
}

// The run a signal ends must not outlive the wizard: the guard passes the
// signal on to the registered child and everything below it (a playbook's
// workers), and leaves no core dump once a password was typed.
TEST(SignalGuard, EndsTheRegisteredChildsWholeTreeAndDumpsNoCore) {
  const auto gone = [](pid_t pid) {
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms)) {
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), {});
      if (text.empty() || text.find(") Z ") != std::string::npos) return true;
    }
    return false;
  };
  for (const int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
    TempDir dir;
    int to_test[2], to_guarded[2];
    ASSERT_EQ(::pipe(to_test), 0);
    ASSERT_EQ(::pipe(to_guarded), 0);
    const auto end = run_child([&] {
      signal_guard::install();
      rlimit core{};
      ::getrlimit(RLIMIT_CORE, &core);
      core.rlim_cur = core.rlim_max;
      ::setrlimit(RLIMIT_CORE, &core);
      if (::chdir(dir.path().c_str()) != 0) return 2;
      signal_guard::forbid_core_dumps();
      // A child with a grandchild, both waiting for a signal.
      const pid_t child = ::fork();
      if (child == 0) {
        ::close(STDERR_FILENO);
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
          ::pause();
          ::_exit(0);
        }
        if (::write(to_guarded[1], &grandchild, sizeof grandchild) < 0) ::_exit(3);
        ::pause();
        ::_exit(0);
      }
      if (signal_guard::register_child(child) < 0) return 3;
      pid_t pids[2] = {child, 0};
      if (::read(to_guarded[0], &pids[1], sizeof pids[1]) != sizeof pids[1]) return 4;
      if (::write(to_test[1], pids, sizeof pids) < 0) return 5;
      ::raise(sig);
      return 0;
    });
    for (int fd : {to_test[1], to_guarded[0], to_guarded[1]}) ::close(fd);
    pid_t pids[2] = {0, 0};
    ASSERT_EQ(::read(to_test[0], pids, sizeof pids), static_cast<ssize_t>(sizeof pids)) << strsignal(sig);
    ::close(to_test[0]);
    ASSERT_TRUE(WIFSIGNALED(end.status)) << strsignal(sig) << ": " << end.describe();
    EXPECT_EQ(WTERMSIG(end.status), sig);
    EXPECT_FALSE(WCOREDUMP(end.status)) << strsignal(sig);
    EXPECT_TRUE(fs::is_empty(dir.path())) << strsignal(sig);
    for (const pid_t pid : pids) {
      EXPECT_TRUE(gone(pid)) << strsignal(sig) << ": pid " << pid << " still runs";
      ::kill(pid, SIGKILL);
    }
  }
}

TEST(SignalGuard, FatalReportsUnlinksAndExits101) {
  TempDir dir;
  const std::string inventory = secret(dir, "hosts.ini"), vars = secret(dir, "vars.json");
  const auto end = run_child([&] {
    signal_guard::install();
    signal_guard::register_file(inventory);
    signal_guard::register_file(vars);
    signal_guard::fatal("failed to spawn thread: Resource temporarily unavailable (os error 11)");
    return 1;  // not reached
  });
  ASSERT_TRUE(WIFEXITED(end.status)) << end.describe();
  EXPECT_EQ(WEXITSTATUS(end.status), 101);
  EXPECT_EQ(end.output, "failed to spawn thread: Resource temporarily unavailable (os error 11)\n");
  EXPECT_FALSE(fs::exists(inventory));
  EXPECT_FALSE(fs::exists(vars));
}

TEST(SignalGuard, RegistrationRefusesWhatItCannotHold) {
  TempDir dir;
  const std::string kept = secret(dir, "kept");
  std::vector<std::string> files;
  for (int i = 0; i < 40; ++i) files.push_back(secret(dir, "f" + std::to_string(i)));
  const auto end = run_child([&] {
    if (signal_guard::register_file(std::string(5000, 'a')) != -1) return 2;
    if (signal_guard::register_file("") != -1) return 3;
    // Fill every slot; the first refusal leaves that file alone.
    std::size_t taken = 0;
    while (taken < files.size() && signal_guard::register_file(files[taken]) >= 0) ++taken;
    if (taken == 0 || taken == files.size()) return 4;
    if (signal_guard::register_file(kept) != -1) return 5;
    // A released slot can be claimed again.
    signal_guard::unregister_file(0);
    if (signal_guard::register_file(files[taken]) < 0) return 6;
    signal_guard::unlink_registered_files();
    return static_cast<int>(100 + taken);
  });
  ASSERT_TRUE(WIFEXITED(end.status)) << end.describe();
  ASSERT_GT(WEXITSTATUS(end.status), 100) << end.describe();
  const std::size_t taken = static_cast<std::size_t>(WEXITSTATUS(end.status) - 100);
  EXPECT_TRUE(fs::exists(files[0])) << "unregistered before the unlink";
  for (std::size_t i = 1; i <= taken; ++i) EXPECT_FALSE(fs::exists(files[i])) << files[i];
  for (std::size_t i = taken + 1; i < files.size(); ++i) EXPECT_TRUE(fs::exists(files[i])) << files[i];
  EXPECT_TRUE(fs::exists(kept));
}

TEST(SignalGuard, SignalDuringAKeyReadRestoresTheTerminal) {
  PtyPair pty;
  const termios before = pty.attrs();
  TempDir dir;

  const struct {
    int sig;
    const char* typed;  // nothing: the parent sends the signal instead
  } cases[] = {{SIGTERM, nullptr}, {SIGHUP, nullptr}, {SIGINT, "\x03"}};
  for (const auto& c : cases) {
    const std::string vars = secret(dir, "vars.json");
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(pty.slave(), STDERR_FILENO);
      signal_guard::install();
      signal_guard::register_file(vars);
      (void)Term::stderr_term().hide_cursor();
      (void)Term(STDERR_FILENO, pty.slave()).read_key();
      ::_exit(0);
    }
    ASSERT_TRUE(pty.wait_for_raw()) << strsignal(c.sig);
    if (c.typed != nullptr) {
      pty.type(c.typed);
    } else {
      ::kill(pid, c.sig);
    }
    ChildEnd end;
    ASSERT_EQ(::waitpid(pid, &end.status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(end.status)) << strsignal(c.sig) << ": " << end.describe();
    EXPECT_EQ(WTERMSIG(end.status), c.sig);
    EXPECT_FALSE(fs::exists(vars)) << strsignal(c.sig);
    EXPECT_EQ(pty.attrs().c_lflag, before.c_lflag) << strsignal(c.sig);
    EXPECT_EQ(pty.attrs().c_iflag, before.c_iflag) << strsignal(c.sig);
    // Hidden once, shown once: by the key reader on Ctrl-C, by the guard otherwise.
    EXPECT_EQ(readable(pty.echo()), "<esc>[?25l<esc>[?25h") << strsignal(c.sig);
  }
}
