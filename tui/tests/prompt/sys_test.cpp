// The descriptor owner and the write of every byte, where a slip would close
// someone else's descriptor or lose output.
#include "prompt/sys.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

}  // namespace

TEST(Fd, ClosesExactlyOnceAndNeverADescriptorItHandedOver) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const int number = fds[0];
  {
    sys::Fd first(fds[0]);
    sys::Fd second(std::move(first));
    EXPECT_FALSE(first);
    second = sys::Fd(fds[1]);  // closes the read end it held
    EXPECT_FALSE(is_open(number));
    // The freed number goes to the next descriptor opened; the moved-from
    // owner must not close it when it goes.
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(reused, number);
    { sys::Fd gone(std::move(first)); }
    EXPECT_TRUE(is_open(reused));
    const int kept = sys::Fd(reused).release();
    EXPECT_TRUE(is_open(kept));
    ::close(kept);
  }
  EXPECT_FALSE(is_open(fds[1]));
}

// A blocking pipe write that a signal (installed without SA_RESTART)
// interrupts fails with EINTR before its first byte, and returns a partial
// count after some.
TEST(WriteAll, DeliversEveryByteThroughInterruptionsAndPartialWrites) {
  struct sigaction action {};
  struct sigaction old {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &old), 0);
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  sys::Fd in(fds[0]), out(fds[1]);
  // A full pipe: the first write blocks before writing anything.
  std::string expected;
  for (ssize_t n; (n = ::write(out.get(), "full", 4)) > 0;) expected += "full";
  ASSERT_EQ(::fcntl(out.get(), F_SETFL, 0), 0);
  ASSERT_EQ(::fcntl(in.get(), F_SETFL, 0), 0);

  std::string sent(1 << 20, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + i / 4093);
  expected += sent;
  std::string received;
  const pthread_t writer = ::pthread_self();
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::pthread_kill(writer, SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    char buf[4096];
    for (ssize_t n; (n = ::read(in.get(), buf, sizeof buf)) > 0;) {
      received.append(buf, static_cast<std::size_t>(n));
      if (received.size() < expected.size() - 65536) ::pthread_kill(writer, SIGUSR2);
    }
  });
  const Result<void> written = sys::write_all(out.get(), sent);
  out.reset();
  reader.join();
  ::sigaction(SIGUSR2, &old, nullptr);
  ASSERT_TRUE(written) << written.error().message();
  EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size() << " bytes arrived";
}
