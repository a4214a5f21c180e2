#include "wizard/process.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <tuple>
#include <utility>

#include "prompt/signals.hpp"
#include "prompt/term.hpp"

extern char** environ;

namespace {

// The current environment with `added` entries replacing or extending it.
std::vector<std::string> child_environment(const std::vector<std::pair<std::string, std::string>>& added) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view key = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [k, v] : added)
      if (k == key) replaced = true;
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [k, v] : added) env.push_back(k + "=" + v);
  return env;
}

// Owns a posix_spawn_file_actions_t and the child's ends of the pipes, which
// the parent closes once the child has started.
struct Actions {
  posix_spawn_file_actions_t fa;
  std::vector<sys::Fd> child_ends;
  Actions() { posix_spawn_file_actions_init(&fa); }
  ~Actions() { posix_spawn_file_actions_destroy(&fa); }
  Actions(const Actions&) = delete;
  Actions& operator=(const Actions&) = delete;
};

// Connects `target` (0, 1 or 2) as `mode` asks. For a pipe, `parent_end`
// receives the parent's end; both ends are close-on-exec so that children
// started at the same time by other threads do not inherit them.
int connect(Actions& actions, int target, Stdio mode, sys::Fd& parent_end) {
  switch (mode) {
    case Stdio::Inherit:
      return 0;
    case Stdio::Null:
      return posix_spawn_file_actions_addopen(&actions.fa, target, "/dev/null",
                                              target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    case Stdio::Pipe: {
      int fds[2];
      if (pipe2(fds, O_CLOEXEC) != 0) return errno;
      sys::Fd read_end(fds[0]), write_end(fds[1]);
      sys::Fd& child_end = actions.child_ends.emplace_back(std::move(target == STDIN_FILENO ? read_end : write_end));
      parent_end = std::move(target == STDIN_FILENO ? write_end : read_end);
      // dup2 clears close-on-exec on the copy, so the child keeps it.
      return posix_spawn_file_actions_adddup2(&actions.fa, child_end.get(), target);
    }
  }
  return EINVAL;
}

}  // namespace

Result<Child> Child::spawn(const SpawnOptions& options) {
  if (options.argv.empty()) return fail_errno(EINVAL);
  Actions actions;
  sys::Fd in_fd, out_fd, err_fd;
  for (auto [target, mode, end] : {std::tuple{STDIN_FILENO, options.in, &in_fd},
                                   std::tuple{STDOUT_FILENO, options.out, &out_fd},
                                   std::tuple{STDERR_FILENO, options.err, &err_fd}}) {
    if (int rc = connect(actions, target, mode, *end); rc != 0) return fail_errno(rc);
  }
  if (options.cwd) {
    if (int rc = posix_spawn_file_actions_addchdir_np(&actions.fa, options.cwd->c_str()); rc != 0)
      return fail_errno(rc);
  }

  std::vector<char*> argv;
  for (const auto& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_text = child_environment(options.env);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  // The guarded signals wait until the child is registered with the signal
  // guard, so none can end this process without reaching the child; the
  // child itself starts with the signal mask this thread had.
  sigset_t guarded, old_mask;
  signal_guard::guarded_signals(&guarded);
  pthread_sigmask(SIG_BLOCK, &guarded, &old_mask);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setsigmask(&attr, &old_mask);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);

  // glibc's posix_spawnp reports a failed chdir or exec (a missing program
  // is ENOENT) as its own result, so the caller never sees a status 127.
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions.fa, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  const int slot = rc == 0 ? signal_guard::register_child(pid) : -1;
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  if (rc != 0) return fail_errno(rc);
  keyboard::unattended();
  // stdin's pipe end is not kept: nothing in the wizard writes to a child.
  in_fd.reset();
  Child child;
  child.pid_ = pid;
  child.slot_ = slot;
  child.out_fd_ = std::move(out_fd);
  child.err_fd_ = std::move(err_fd);
  return child;
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      slot_(std::exchange(other.slot_, -1)),
      out_fd_(std::move(other.out_fd_)),
      err_fd_(std::move(other.err_fd_)) {}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    out_fd_.reset();
    err_fd_.reset();
    if (pid_ > 0) (void)wait();
    pid_ = std::exchange(other.pid_, -1);
    slot_ = std::exchange(other.slot_, -1);
    out_fd_ = std::move(other.out_fd_);
    err_fd_ = std::move(other.err_fd_);
  }
  return *this;
}

Child::~Child() {
  out_fd_.reset();
  err_fd_.reset();
  if (pid_ > 0) (void)wait();
}

sys::Fd Child::exit_watch() const {
  if (pid_ <= 0) return sys::Fd();
  return sys::Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
}

bool Child::ended() const {
  siginfo_t info{};
  if (pid_ <= 0) return true;
  const int r =
      sys::retry_eintr([&] { return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT); });
  return r != 0 || info.si_pid == pid_;
}

Result<ExitStatus> Child::wait() {
  if (pid_ <= 0) return fail_errno(ECHILD);
  // Waited for without reaping first: until it is reaped the pid cannot be
  // reused, so the signal guard never signals a stranger.
  siginfo_t info{};
  (void)sys::retry_eintr([&] { return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT); });
  signal_guard::unregister_child(std::exchange(slot_, -1));
  int status = 0;
  if (sys::retry_eintr([&] { return waitpid(pid_, &status, 0); }) < 0) return fail_errno(errno);
  pid_ = -1;
  ExitStatus st;
  if (WIFEXITED(status)) {
    st.exited = true;
    st.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    st.signal = WTERMSIG(status);
  }
  return st;
}

Result<ExitStatus> run_to_end(const SpawnOptions& options) {
  auto child = Child::spawn(options);
  if (!child) return fail(std::move(child).error());
  return child->wait();
}
