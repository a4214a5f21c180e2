// main.cpp: preflight, the intro, the command menu, and the one place where
// an error becomes a report and an exit status.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "prompt/error.hpp"
#include "prompt/signals.hpp"
#include "prompt/term.hpp"
#include "prompt/theme.hpp"
#include "wizard/commands.hpp"
#include "wizard/environment.hpp"

namespace {

Result<void> run() {
  if (!find_on_path("ansible-playbook"))
    return fail("ansible-playbook not found in PATH. Install it before running this tool.");
  if (!find_on_path("git")) return fail("git not found in PATH. Install git locally to clone repositories.");
  if (auto r = theme::intro("\x1b[1m Tervane TUI Wizard \x1b[0m"); !r) return r;
  return run_command_menu();
}

}  // namespace

int main() {
  // A closed standard descriptor would be taken by the next file opened (the
  // variables file, say) and receive what is meant for that stream.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return 1;
  signal_guard::install();
  if (auto result = run(); !result) {
    const std::string report = format_report(result.error());
    (void)Term(STDERR_FILENO, STDIN_FILENO).write_str(report);
    return 1;
  }
  return 0;
}
