// child.hpp: code run in a forked child, as the parent sees it end.
#pragma once

#include <unistd.h>

#include <functional>
#include <initializer_list>
#include <string>

/// How a child ended, and what it wrote.
struct ChildEnd {
  int status = -1;     ///< as waitpid() gives it
  std::string output;  ///< all the captured descriptors received
  /// "exited 3", "killed by signal 15", for failure messages.
  std::string describe() const;
};

/// Runs `body` in a forked child whose descriptors `captured` all write into
/// one pipe, which the parent reads until the child, and whatever inherited
/// the pipe, has closed it; the child exits with body's return value.
ChildEnd run_child(const std::function<int()>& body, std::initializer_list<int> captured = {STDERR_FILENO});
