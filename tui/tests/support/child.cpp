#include "support/child.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>

ChildEnd run_child(const std::function<int()>& body, std::initializer_list<int> captured) {
  ChildEnd end;
  int fds[2];
  if (pipe(fds) != 0) return end;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    for (int fd : captured) dup2(fds[1], fd);
    if (std::find(captured.begin(), captured.end(), fds[1]) == captured.end()) close(fds[1]);
    _exit(body());
  }
  close(fds[1]);
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n > 0)
      end.output.append(buf, static_cast<std::size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(fds[0]);
  while (waitpid(pid, &end.status, 0) < 0 && errno == EINTR) {
  }
  return end;
}

std::string ChildEnd::describe() const {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exited " + std::to_string(WEXITSTATUS(status));
  return "status " + std::to_string(status);
}
