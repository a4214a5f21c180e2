#include "support/pty_pair.hpp"

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <utility>

#include "support/eventually.hpp"

PtyPair::PtyPair() {
  winsize ws{};
  ws.ws_col = 80;
  ws.ws_row = 24;
  if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0) throw std::runtime_error("openpty failed");
}

PtyPair::~PtyPair() {
  hang_up();
  close(slave_);
}

void PtyPair::hang_up() {
  if (master_ >= 0) close(std::exchange(master_, -1));
}

void PtyPair::type(std::string_view bytes) const {
  if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("typing on the terminal failed");
}

std::string PtyPair::shown_until(std::string_view end) const {
  std::string out;
  char buf[256];
  for (pollfd p{master_, POLLIN, 0}; !out.ends_with(end) && poll(&p, 1, 5000) > 0;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::string PtyPair::echo() const {
  constexpr std::string_view kMark = "<mark>";
  if (write(slave_, kMark.data(), kMark.size()) != static_cast<ssize_t>(kMark.size())) return "<mark not written>";
  std::string out = shown_until(kMark);
  if (out.ends_with(kMark)) out.resize(out.size() - kMark.size());
  return out;
}

termios PtyPair::attrs() const {
  termios t{};
  tcgetattr(slave_, &t);
  return t;
}

bool PtyPair::wait_for_raw() const {
  using namespace std::chrono_literals;
  return eventually([&] { return (attrs().c_lflag & ICANON) == 0; }, 5s, 1ms);
}
