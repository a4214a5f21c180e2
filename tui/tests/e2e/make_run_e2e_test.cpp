// `make run` at a terminal a shell left with echo on, while the wizard builds
// and once it runs.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/eventually.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(MakeRun, KeysTypedDuringTheBuildAreNotEchoedAndCtrlCEndsMakeBySigintAlone) {
  const fs::path root = fs::canonical(TERVANE_PROJECT_ROOT), make = find_on_system_path("make");
  if (make.empty()) GTEST_SKIP() << "make is not installed";
  if (fs::canonical(TERVANE_WIZARD_BINARY) != root / "tui/build/debug/bin/tervane-wizard")
    GTEST_SKIP() << "the wizard is not built in tui/build/debug";
  Sandbox box;
  box.fake("ansible-playbook", "ansible-playbook-unused");
  box.link_real("git");
  // The wizard is built already; a stand-in cmake builds until the test has
  // typed its keys.
  const fs::path building = box.work / "building", done = box.work / "done";
  box.stub("cmake", "[ \"$1\" = --build ] || exit 0\necho '[ 50%] Building CXX object main.cpp.o'\n: >" +
                        building.string() + "\nwhile [ ! -e " + done.string() + " ]; do sleep 0.01; done\n");
  PtyDriver tty({make.string(), "run", "PRESET=debug"}, box.env(), {.cwd = root.string(), .echo = true});
  ASSERT_TRUE(eventually([&] { return fs::exists(building); }, 60s, 10ms));
  tty.send(std::string(PtyDriver::kDown) + PtyDriver::kDown + PtyDriver::kEnter);
  // The terminal has taken the line in (and would have echoed it) before
  // the build ends.
  const int slave = ::open(tty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  int queued = 0;
  EXPECT_TRUE(eventually([&] { return ::ioctl(slave, FIONREAD, &queued) == 0 && queued == 7; }, 10s, 10ms));
  ::close(slave);
  std::ofstream{done};

  ASSERT_TRUE(tty.expect("Select a global command to continue:", 60s));
  tty.settle();
  const std::string& shown = tty.output();
  EXPECT_EQ(shown.substr(0, shown.find("\x1b[38;5;8m")), "Building tervane-wizard (debug)...\r\n") << tty.dump();
  EXPECT_EQ(tty.screen().line(4), "│  ● Select target Arch workstation (Choose an SSH host and bootstrap Tervane)");

  tty.send(PtyDriver::kCtrlC);
  const PtyExit end = tty.wait();
  EXPECT_FALSE(end.exited);
  EXPECT_EQ(end.signal, SIGINT);
  EXPECT_EQ(tty.output().find("make:"), std::string::npos) << tty.dump();
  EXPECT_EQ(tty.output().find("Interrupt"), std::string::npos) << tty.dump();
  termios after{};
  ASSERT_EQ(::tcgetattr(tty.master(), &after), 0);
  EXPECT_TRUE(after.c_lflag & ECHO);
}
