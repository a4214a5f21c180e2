// The 11-row phase menu, whose hints are long enough to wrap, redrawn at
// several terminal widths: after every key the screen holds the lines above
// the prompt and the newest frame, and nothing of an older frame.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/pty_driver.hpp"
#include "prompt/select.hpp"
#include "prompt/term.hpp"
#include "support/pattern.hpp"
#include "wizard/modes.hpp"

namespace {

const std::string kHide = "\x1b[?25l";
const std::string kAbove = "line above 1\r\nline above 2\r\n";
constexpr unsigned short kRows = 90;  // tall enough that nothing scrolls

/// The frame drawn last in `chunk`: what follows the erase of the previous
/// frame (CR, erase line, down one, repeated; then up), or the hidden cursor
/// before the first frame.
std::string last_frame(const std::string& chunk) {
  const auto erase = chunk.rfind("\x1b[2K\x1b[1B");
  if (erase == std::string::npos) return chunk.substr(chunk.rfind(kHide) + kHide.size());
  return replace_first(chunk.substr(erase + 8), "^\x1b\\[[0-9]+A", "");
}

/// What a terminal shows when only the lines above and `frame` were written.
std::string ideal_screen(const std::string& frame, unsigned short cols) {
  Screen s(cols, kRows);
  s.feed(kAbove + frame);
  return s.text();
}

int run_phase_menu() {
  ssize_t ignored = write(STDERR_FILENO, "line above 1\nline above 2\n", 26);
  Select<std::string> menu("Select a standalone playbook phase to execute:");
  menu.items(playbook_phases());
  const auto chosen = menu.interact();
  if (!chosen) return 2;
  const std::string line = "chosen " + *chosen + "\n";
  ignored = write(STDOUT_FILENO, line.data(), line.size());
  (void)ignored;
  return 0;
}

}  // namespace

TEST(SelectWidths, PhaseMenuRedrawsInPlaceAtEveryWidth) {
  const auto& phases = playbook_phases();
  ASSERT_EQ(phases.size(), 11u);
  for (const unsigned short cols : {30, 80, 100, 120}) {
    SCOPED_TRACE("columns " + std::to_string(cols));
    PtyDriver tty(run_phase_menu, {{"LANG", "C.UTF-8"}, {"TERM", "xterm-256color"}},
                  {.cols = cols, .rows = kRows});
    ASSERT_TRUE(tty.expect(kHide));
    tty.settle();
    ASSERT_TRUE(tty.output().starts_with(kAbove + kHide));
    ASSERT_EQ(tty.screen().text(), ideal_screen(last_frame(tty.take_new()), cols)) << tty.dump();

    std::vector<std::string> keys(10, PtyDriver::kDown);
    keys.insert(keys.end(), 10, PtyDriver::kUp);
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      SCOPED_TRACE("key " + std::to_string(i + 1));
      tty.key(keys[i]);
      cursor = keys[i] == PtyDriver::kDown ? cursor + 1 : cursor - 1;
      const std::string frame = last_frame(tty.take_new());
      EXPECT_NE(frame.find(phases[cursor].label + " "), std::string::npos);
      EXPECT_NE(frame.find("(" + phases[cursor].hint + ")"), std::string::npos);
      EXPECT_TRUE(tty.screen().line(2).starts_with("◆  Select a standalone")) << tty.screen().line(2);
      ASSERT_EQ(tty.screen().text(), ideal_screen(frame, cols)) << tty.dump();
    }

    tty.key(PtyDriver::kEnter);
    EXPECT_EQ(tty.wait().code, 0);
    // The submitted frame, then the program's own line, replace the list.
    EXPECT_EQ(tty.screen().text(), ideal_screen(last_frame(tty.take_new()), cols));
    if (cols >= 80) {
      EXPECT_EQ(tty.screen().text(),
                "line above 1\nline above 2\n"
                "◇  Select a standalone playbook phase to execute:\n"
                "│  00-preflight: Preflight checks & gum helper\n"
                "│\n"
                "chosen 00-preflight.yml");
    }
  }
}
