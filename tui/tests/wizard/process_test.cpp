#include "wizard/process.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

namespace {

std::string read_all(sys::Fd fd) {
  std::string out;
  char buf[256];
  for (ssize_t n; (n = ::read(fd.get(), buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  return out;
}

SpawnOptions shell(std::string script) {
  SpawnOptions o;
  o.argv = {"sh", "-c", std::move(script)};
  return o;
}

}  // namespace

TEST(ChildProcess, PipesInTheGivenDirectoryWithTheEnvironmentAdded) {
  TempDir dir;
  ScopedEnv kept("TERVANE_KEPT", "kept");
  ScopedEnv replaced("PYTHONUNBUFFERED", "0");
  SpawnOptions o = shell("pwd; echo \"$TERVANE_KEPT $PYTHONUNBUFFERED\"; echo oops >&2; cat");
  o.cwd = dir.path().string();
  o.env = {{"PYTHONUNBUFFERED", "1"}};
  o.in = Stdio::Null;
  o.out = Stdio::Pipe;
  o.err = Stdio::Pipe;
  auto child = Child::spawn(o);
  ASSERT_TRUE(child) << child.error().message();
  EXPECT_EQ(read_all(child->take_stdout()), dir.path().string() + "\nkept 1\n");
  EXPECT_EQ(read_all(child->take_stderr()), "oops\n");
  auto status = child->wait();
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->success());
}

TEST(ChildProcess, ReportsHowTheChildEndedOrWhyItCouldNotStart) {
  auto three = run_to_end(shell("exit 3"));
  ASSERT_TRUE(three);
  EXPECT_TRUE(three->exited);
  EXPECT_EQ(three->code, 3);
  EXPECT_FALSE(three->success());

  auto killed = run_to_end(shell("kill -TERM $$"));
  ASSERT_TRUE(killed);
  EXPECT_FALSE(killed->exited);
  EXPECT_EQ(killed->signal, SIGTERM);
  EXPECT_FALSE(killed->success());

  SpawnOptions bad_dir = shell("true");
  bad_dir.cwd = "/nonexistent/dir";
  auto no_dir = Child::spawn(bad_dir);
  ASSERT_FALSE(no_dir);
  EXPECT_EQ(no_dir.error().message(), "No such file or directory (os error 2)");
}

TEST(ChildProcess, PipeEndsAreNotInheritedByLaterChildren) {
  SpawnOptions first = shell("exec sleep 5");
  first.out = Stdio::Pipe;
  auto holder = Child::spawn(first);
  ASSERT_TRUE(holder);
  const sys::Fd fd = holder->take_stdout();
  auto probe = run_to_end(shell("test -e /proc/$$/fd/" + std::to_string(fd.get())));
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->code, 1) << "descriptor " << fd.get() << " leaked into the next child";
  kill(holder->pid(), SIGKILL);
  EXPECT_TRUE(holder->wait());
}
