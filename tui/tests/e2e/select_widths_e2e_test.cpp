// Select lists redrawn at several terminal widths, with hints long enough to
// wrap: after every key the screen must hold the lines above the prompt and
// the newest frame, and nothing of an older frame.
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "prompt/select.hpp"
#include "prompt/term.hpp"
#include "wizard/modes.hpp"

namespace {


const std::string kMarkers = "line above 1\nline above 2\n";
const std::string kHide = "\x1b[?25l";
const unsigned short kWidths[] = {30, 80, 100, 120};
constexpr unsigned short kRows = 90;  // tall enough that nothing scrolls

/// The frame drawn last in `chunk`: what follows the erase of the previous
/// frame (carriage return, erase line, down one, repeated; then up), or the
/// hidden cursor before the first frame.
std::string last_frame(const std::string& chunk) {
  static const std::regex up_again("^\x1b\\[[0-9]+A");
  const auto erase = chunk.rfind("\x1b[2K\x1b[1B");
  if (erase == std::string::npos) {
    const auto hide = chunk.rfind(kHide);
    return hide == std::string::npos ? chunk : chunk.substr(hide + kHide.size());
  }
  std::string rest = chunk.substr(erase + 8);
  std::smatch m;
  if (std::regex_search(rest, m, up_again)) rest = rest.substr(m.length());
  return rest;
}

/// What a terminal of the same size shows when `before` and then only
/// `frame` were ever written.
std::string ideal_screen(const std::string& before, const std::string& frame, unsigned short cols) {
  Screen s(cols, kRows);
  s.feed(before);
  s.feed(frame);
  return s.text();
}

int run_phase_menu() {
  ssize_t ignored = write(STDERR_FILENO, kMarkers.data(), kMarkers.size());
  (void)ignored;
  Select<std::string> menu("Select a standalone playbook phase to execute:");
  menu.items(playbook_phases());
  const auto chosen = menu.interact_on(Term(STDERR_FILENO, STDIN_FILENO));
  if (!chosen) return 2;
  const std::string line = "chosen " + *chosen + "\n";
  ignored = write(STDOUT_FILENO, line.data(), line.size());
  return 0;
}

}  // namespace

TEST(SelectWidths, PhaseMenuRedrawsInPlaceAtEveryWidth) {
  for (const unsigned short cols : kWidths) {
    SCOPED_TRACE("columns " + std::to_string(cols));
    PtyDriver tty(run_phase_menu, {{"LANG", "C.UTF-8"}, {"TERM", "xterm-256color"}},
                  {.cols = cols, .rows = kRows});
    ASSERT_TRUE(tty.expect(kHide));
    tty.settle();
    const std::string before = "line above 1\r\nline above 2\r\n";
    ASSERT_TRUE(tty.output().starts_with(before + kHide));
    std::string frame = last_frame(tty.take_new());
    ASSERT_EQ(tty.screen().text(), ideal_screen(before, frame, cols)) << tty.dump();

    std::vector<std::string> keys(10, PtyDriver::kDown);
    keys.insert(keys.end(), 10, PtyDriver::kUp);
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      SCOPED_TRACE("key " + std::to_string(i + 1));
      tty.key(keys[i]);
      cursor = keys[i] == PtyDriver::kDown ? cursor + 1 : cursor - 1;
      frame = last_frame(tty.take_new());
      // The frame names the selected row with its hint, and the screen is
      // exactly the markers and that frame.
      EXPECT_NE(frame.find(playbook_phases()[cursor].label + " "), std::string::npos);
      EXPECT_NE(frame.find("(" + playbook_phases()[cursor].hint + ")"), std::string::npos);
      const Screen& screen = tty.screen();
      EXPECT_EQ(screen.line(0), "line above 1");
      EXPECT_EQ(screen.line(1), "line above 2");
      EXPECT_TRUE(screen.line(2).starts_with("\xe2\x97\x86  Select a standalone"))
          << screen.line(2);
      ASSERT_EQ(screen.text(), ideal_screen(before, frame, cols)) << tty.dump();
    }

    tty.key(PtyDriver::kEnter);
    const PtyExit end = tty.wait();
    EXPECT_EQ(end.code, 0);
    EXPECT_NE(tty.output().find("chosen 00-preflight.yml\r\n"), std::string::npos);
    // The submitted frame, then the program's own line, replace the list.
    EXPECT_EQ(tty.screen().text(), ideal_screen(before, last_frame(tty.take_new()), cols));
    if (cols >= 80) {
      EXPECT_EQ(tty.screen().text(),
                "line above 1\nline above 2\n"
                "\xe2\x97\x87  Select a standalone playbook phase to execute:\n"
                "\xe2\x94\x82  00-preflight: Preflight checks & gum helper\n"
                "\xe2\x94\x82\n"
                "chosen 00-preflight.yml");
    }
  }
}

TEST(SelectWidths, CommandMenuRedrawsBelowTheIntroAtEveryWidth) {
  for (const unsigned short cols : kWidths) {
    SCOPED_TRACE("columns " + std::to_string(cols));
    Sandbox box;
    box.stub("ansible-playbook", "exit 0");
    box.link_real("git");
    PtyDriver tty(box.wizard_argv(), box.env(), {.cols = cols, .rows = kRows});
    ASSERT_TRUE(tty.expect(kHide));
    tty.settle();
    const std::string all = tty.take_new();
    const std::string before = all.substr(0, all.find(kHide));
    ASSERT_EQ(tty.screen().text(), ideal_screen(before, last_frame(all), cols)) << tty.dump();
    std::string frame;
    for (const char* key : {PtyDriver::kDown, PtyDriver::kUp, PtyDriver::kDown}) {
      tty.key(key);
      frame = last_frame(tty.take_new());
      ASSERT_EQ(tty.screen().text(), ideal_screen(before, frame, cols)) << tty.dump();
    }
    EXPECT_NE(frame.find("(Delete local temporary configurations & wallpapers cache)"),
              std::string::npos);
    tty.key(PtyDriver::kEsc);
    EXPECT_EQ(tty.wait().code, 1);
    EXPECT_TRUE(tty.screen().contains("Error: operation interrupted"));
  }
}
