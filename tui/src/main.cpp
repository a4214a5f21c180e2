// main.cpp: preflight, the intro, the command menu, and the one place where
// an error becomes a report and an exit status; --help and --version.
#include <fcntl.h>
#include <malloc.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "prompt/error.hpp"
#include "prompt/live_area.hpp"
#include "prompt/signals.hpp"
#include "prompt/term.hpp"
#include "prompt/theme.hpp"
#include "wizard/commands.hpp"
#include "wizard/environment.hpp"
#include "wizard/run_log.hpp"
#include "wizard/setup_context.hpp"

namespace {

Result<void> run(const SetupContext& context) {
  if (!find_on_path("ansible-playbook"))
    return fail("ansible-playbook not found in PATH. Install it before running this tool.");
  if (!find_on_path("git")) return fail("git not found in PATH. Install git locally to clone repositories.");
  const char* title =
      context.preview ? "\x1b[1m Tervane TUI Wizard (preview) \x1b[0m" : "\x1b[1m Tervane TUI Wizard \x1b[0m";
  if (auto r = theme::intro(title); !r) return fail(std::move(r).error());
  return run_command_menu(context);
}

std::string help_text(const SetupContext& context) {
  const auto& root = context.project_root;
  return "tervane-wizard turns a freshly installed remote Arch Linux machine into a Tervane\n"
         "Hyprland desktop by running this project's Ansible playbooks over SSH.\n"
         "\n"
         "Usage: tervane-wizard            start the wizard; it is interactive and asks for\n"
         "                                 everything on the terminal (Escape cancels)\n"
         "       tervane-wizard --check    a preview: the same questions, every playbook run\n"
         "                                 with --check --diff; nothing on the target changes\n"
         "       tervane-wizard --help     show this text\n"
         "       tervane-wizard --version  show the name and version\n"
         "\n"
         "Environment: PATH (must find ansible-playbook and git), HOME, USER or LOGNAME (the\n"
         "SSH user of a ~/.ssh/config host without User; one typed by hand defaults to root),\n"
         "TMPDIR (where the run files' private folder is made), LANG, TERM, NO_COLOR, CLICOLOR\n"
         "and CLICOLOR_FORCE (the prompts' symbols and colours), XDG_STATE_HOME and\n"
         "ANSIBLE_LOG_PATH (the log; empty counts as unset).\n"
         "\n"
         "Every playbook run is appended to " +
         run_log_path().value_or("~/.local/state/tervane/ansible.log") + "\n" +
         "More, and what to do when something goes wrong: " +
         (root ? *root + "/README.md" : std::string("README.md in the project")) + "\n";
}

// Prints `text` on standard output; 0 when it all went out, else 1.
int print(const std::string& text) {
  return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard descriptor would be taken by the next file opened (the
  // variables file, say) and receive what is meant for that stream.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return 1;
  // The spinner's and the runner's short-lived threads allocate little: one
  // heap for all threads instead of a new arena for each.
  mallopt(M_ARENA_MAX, 1);
  signal_guard::install();
  // The process will hold passwords, the first one in a visible input: no
  // core file, and no other process of this user may read its memory.
  signal_guard::forbid_core_dumps();
  bool preview = false;
  for (int i = 1; i < argc; ++i) preview = preview || std::string_view(argv[i]) == "--check";
  const SetupContext context = SetupContext::find(preview);
  if (argc > 1 && std::string_view(argv[1]) == "--help") return print(help_text(context));
  if (argc > 1 && std::string_view(argv[1]) == "--version") return print("tervane-wizard " TERVANE_VERSION "\n");
  // Keys typed before the first prompt (during `make run`'s build, say) must
  // not answer it.
  if (isatty(STDIN_FILENO)) (void)tcflush(STDIN_FILENO, TCIFLUSH);
  // Keys answer only the prompt on screen: no echo from the first prompt on.
  keyboard::keep_quiet();
  Result<void> result = run(context);
  (void)keyboard::restore();
  if (!result) {
    const std::string report = format_report(result.error());
    (void)LiveArea::standard_error().print_above(report);
    return 1;
  }
  return 0;
}
