// eventually.hpp: waiting in a test for something another thread or process
// brings about, with a time limit only as a failure guard.
#pragma once

#include <chrono>
#include <thread>

/// Whether `done()` holds within `limit`, checked every `step`.
template <class Pred>
bool eventually(Pred done, std::chrono::milliseconds limit,
                std::chrono::milliseconds step = std::chrono::milliseconds(5)) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= give_up) return done();
    std::this_thread::sleep_for(step);
  }
  return true;
}
