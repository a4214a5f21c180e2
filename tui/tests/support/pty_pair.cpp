#include "support/pty_pair.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

PtyPair::PtyPair(unsigned short cols) {
  winsize ws{};
  ws.ws_col = cols;
  ws.ws_row = cols == 0 ? 0 : 24;
  if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0)
    throw std::runtime_error("openpty failed");
  termios t{};
  tcgetattr(slave_, &t);
  cfmakeraw(&t);
  tcsetattr(slave_, TCSANOW, &t);
}

PtyPair::~PtyPair() {
  hang_up();
  close(slave_);
}

void PtyPair::type(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(master_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("write to pty master failed");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void PtyPair::hang_up() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

std::string PtyPair::collect_while(const std::function<void()>& body, std::vector<std::string> keys) {
  using namespace std::chrono;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    body();
    done = true;
  });

  std::string out;
  auto deadline = steady_clock::now() + seconds(10);
  std::size_t next_key = 0;
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    char buf[4096];
    ssize_t n = 0;
    if (poll(&p, 1, done ? 100 : 50) > 0 && (p.revents & POLLIN) && (n = read(master_, buf, sizeof buf)) > 0) {
      out.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (done) break;  // finished, and nothing more arrived for a while
    if (next_key < keys.size()) {  // quiet: the frame is drawn, type on
      type(keys[next_key++]);
      deadline = steady_clock::now() + seconds(10);
      continue;
    }
    if (steady_clock::now() > deadline) {
      // Waiting for a key never typed: hanging up makes the key read fail.
      ADD_FAILURE() << "the prompt did not finish with the keys typed";
      hang_up();
      break;
    }
  }
  worker.join();
  return out;
}
