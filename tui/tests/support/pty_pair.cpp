#include "support/pty_pair.hpp"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

PtyPair::PtyPair() {
  winsize ws{};
  ws.ws_col = 80;
  ws.ws_row = 24;
  if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0)
    throw std::runtime_error("openpty failed");
  termios t{};
  tcgetattr(slave_, &t);
  cfmakeraw(&t);
  tcsetattr(slave_, TCSANOW, &t);
}

PtyPair::~PtyPair() {
  close(master_);
  close(slave_);
}
