#include "wizard/process.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <tuple>
#include <utility>

#include "prompt/signals.hpp"

extern char** environ;

namespace {

void close_fd(int& fd) {
  // close() is never retried: after EINTR the descriptor is already gone on Linux.
  if (fd >= 0) ::close(fd);
  fd = -1;
}

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
  std::vector<int> child_ends;
  Actions() { posix_spawn_file_actions_init(&fa); }
  ~Actions() {
    posix_spawn_file_actions_destroy(&fa);
    for (int& fd : child_ends) close_fd(fd);
  }
  Actions(const Actions&) = delete;
  Actions& operator=(const Actions&) = delete;
};

// Connects `target` (0, 1 or 2) as `mode` asks. For a pipe, `parent_end`
// receives the parent's end; both ends are close-on-exec so that children
// started at the same time by other threads do not inherit them.
int connect(Actions& actions, int target, Stdio mode, int& parent_end) {
  switch (mode) {
    case Stdio::Inherit:
      return 0;
    case Stdio::Null:
      return posix_spawn_file_actions_addopen(&actions.fa, target, "/dev/null",
                                              target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    case Stdio::Pipe: {
      int fds[2];
      if (pipe2(fds, O_CLOEXEC) != 0) return errno;
      int child_end = target == STDIN_FILENO ? fds[0] : fds[1];
      parent_end = target == STDIN_FILENO ? fds[1] : fds[0];
      actions.child_ends.push_back(child_end);
      // dup2 clears close-on-exec on the copy, so the child keeps it.
      return posix_spawn_file_actions_adddup2(&actions.fa, child_end, target);
    }
  }
  return EINVAL;
}

}  // namespace

Result<Child> Child::spawn(const SpawnOptions& options) {
  if (options.argv.empty()) return fail_errno(EINVAL);
  Actions actions;
  int in_fd = -1, out_fd = -1, err_fd = -1;
  auto close_parent_ends = [&] {
    close_fd(in_fd);
    close_fd(out_fd);
    close_fd(err_fd);
  };
  for (auto [target, mode, end] : {std::tuple{STDIN_FILENO, options.in, &in_fd},
                                   std::tuple{STDOUT_FILENO, options.out, &out_fd},
                                   std::tuple{STDERR_FILENO, options.err, &err_fd}}) {
    if (int rc = connect(actions, target, mode, *end); rc != 0) {
      close_parent_ends();
      return fail_errno(rc);
    }
  }
  if (options.cwd) {
    if (int rc = posix_spawn_file_actions_addchdir_np(&actions.fa, options.cwd->c_str()); rc != 0) {
      close_parent_ends();
      return fail_errno(rc);
    }
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
  if (rc != 0) {
    close_parent_ends();
    return fail_errno(rc);
  }
  // stdin's pipe end is not kept: nothing in the wizard writes to a child.
  close_fd(in_fd);
  Child child;
  child.pid_ = pid;
  child.slot_ = slot;
  child.out_fd_ = out_fd;
  child.err_fd_ = err_fd;
  return child;
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      slot_(std::exchange(other.slot_, -1)),
      out_fd_(std::exchange(other.out_fd_, -1)),
      err_fd_(std::exchange(other.err_fd_, -1)) {}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    close_fd(out_fd_);
    close_fd(err_fd_);
    if (pid_ > 0) (void)wait();
    pid_ = std::exchange(other.pid_, -1);
    slot_ = std::exchange(other.slot_, -1);
    out_fd_ = std::exchange(other.out_fd_, -1);
    err_fd_ = std::exchange(other.err_fd_, -1);
  }
  return *this;
}

Child::~Child() {
  close_fd(out_fd_);
  close_fd(err_fd_);
  if (pid_ > 0) (void)wait();
}

int Child::take_stdout() { return std::exchange(out_fd_, -1); }
int Child::take_stderr() { return std::exchange(err_fd_, -1); }

Result<ExitStatus> Child::wait() {
  if (pid_ <= 0) return fail_errno(ECHILD);
  // Waited for without reaping first: until it is reaped the pid cannot be
  // reused, so the signal guard never signals a stranger.
  siginfo_t info{};
  int w;
  do {
    w = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
  } while (w < 0 && errno == EINTR);
  signal_guard::unregister_child(std::exchange(slot_, -1));
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return fail_errno(errno);
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
  if (!child) return std::unexpected(std::move(child).error());
  return child->wait();
}
