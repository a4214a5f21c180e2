// `make run` on a terminal a shell left with echo on.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/eventually.hpp"

namespace fs = std::filesystem;

// Keys typed while `make run` builds are not echoed; Ctrl-C in the wizard
// ends make by SIGINT, as it ends the wizard, with echo back on.
TEST(MakeRun, KeysTypedDuringTheBuildAreNotEchoedAndCtrlCEndsMakeBySigintAlone) {
  const fs::path root = fs::canonical(TERVANE_PROJECT_ROOT), make = find_on_system_path("make");
  if (make.empty() || fs::canonical(TERVANE_WIZARD_BINARY) != root / "tui/build/debug/bin/tervane-wizard")
    GTEST_SKIP() << "needs make and the wizard built in tui/build/debug";
  Sandbox box;
  box.fake("ansible-playbook", "ansible-playbook-unused");
  box.link_real("git");
  // A stand-in cmake builds until the terminal holds the keys (and would have echoed them).
  const fs::path building = box.work / "building", done = box.work / "done";
  box.stub("cmake", "[ \"$1\" = --build ] || exit 0\necho '[ 50%] Building CXX object x.o'\n: >" + building.string() +
                        "\nwhile [ ! -e " + done.string() + " ]; do sleep 0.01; done\n");
  PtyDriver tty({make.string(), "run", "PRESET=debug"}, box.env(), {.cwd = root.string(), .echo = true});
  ASSERT_TRUE(eventually([&] { return fs::exists(building); }, std::chrono::seconds(60)));
  tty.send(std::string(PtyDriver::kDown) + PtyDriver::kDown + PtyDriver::kEnter);
  const int slave = ::open(tty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  int queued = 0;
  EXPECT_TRUE(
      eventually([&] { return ::ioctl(slave, FIONREAD, &queued) == 0 && queued == 7; }, std::chrono::seconds(10)));
  ::close(slave);
  box.dir.write_file(done, "");
  ASSERT_TRUE(tty.expect("Select a global command to continue:", std::chrono::seconds(60)));
  tty.settle();
  EXPECT_TRUE(tty.output().starts_with("Building tervane-wizard (debug)...\r\n\x1b[")) << tty.dump();  // no echo
  tty.key(PtyDriver::kCtrlC);
  EXPECT_EQ(tty.wait().signal, SIGINT);
  EXPECT_EQ(tty.output().find("make:"), std::string::npos) << tty.dump();
  termios after{};
  EXPECT_TRUE(::tcgetattr(tty.master(), &after) == 0 && (after.c_lflag & ECHO));
}
