// The spinner's ticker thread against the caller's thread: starting,
// finishing and dropping bars while the ticker draws. Built under
// ThreadSanitizer, which fails the run on any data race.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "prompt/spinner.hpp"

using namespace std::chrono_literals;

namespace {

class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  SpinnerTarget target() const { return SpinnerTarget{fileno(file_), true, 40}; }
  std::string bytes() const {
    std::string out(1 << 16, '\0');
    const ssize_t n = ::pread(fileno(file_), out.data(), out.size(), 0);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
  }

 private:
  std::FILE* file_;
};

constexpr const char* kErased = "\r\x1b[2K";

TEST(SpinnerThreads, FinishOrDropAtAnyMomentOfTheTickerStopsIt) {
  DecisionOverride decisions(/*colours=*/true, /*unicode=*/true);
  std::vector<std::unique_ptr<Capture>> outputs;
  std::vector<std::string> at_end;
  for (int i = 0; i < 24; ++i) {
    outputs.push_back(std::make_unique<Capture>());
    {
      ProgressBar bar(outputs.back()->target());
      bar.start(i % 2 ? "Cleaning\ntemporary cache" : "Syncing");
      std::this_thread::sleep_for(std::chrono::milliseconds(i * 9));
      if (i % 2 == 0) bar.finish_with_state("Synced", ThemeState::Submit);
    }
    at_end.push_back(outputs.back()->bytes());
  }
  std::this_thread::sleep_for(150ms);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string bytes = outputs[i]->bytes();
    EXPECT_EQ(bytes, at_end[i]) << "bar " << i << " drew after it ended";
    EXPECT_EQ(bytes.find("◑"), std::string::npos) << i;
    if (i % 2 == 0) {
      EXPECT_NE(bytes.find("◇\x1b[0m  Synced\n"), std::string::npos) << i;
      EXPECT_TRUE(bytes.ends_with(kErased)) << i;
    } else {
      EXPECT_TRUE(bytes.ends_with("\r\x1b[2K\x1b[1B\x1b[2K\x1b[1A")) << i;
    }
  }
}

TEST(SpinnerThreads, BarsOnSeveralThreadsAndABarMovedBetweenThreads) {
  DecisionOverride decisions(/*colours=*/false, /*unicode=*/false);
  Capture a, b, c, moved;
  std::vector<std::thread> threads;
  for (Capture* out : {&a, &b, &c}) {
    threads.emplace_back([out] {
      ProgressBar bar(out->target());
      bar.start("Working");
      std::this_thread::sleep_for(220ms);
      bar.finish_with_state("Worked", ThemeState::Submit);
    });
  }
  ProgressBar running(moved.target());
  running.start("Handed over");
  std::this_thread::sleep_for(120ms);
  std::thread receiver([bar = std::move(running)]() mutable {
    std::this_thread::sleep_for(120ms);
    bar.finish_with_state("Taken over", ThemeState::Submit);
  });
  running.finish_with_state("Moved-from handles do nothing", ThemeState::Submit);
  receiver.join();
  for (auto& t : threads) t.join();

  for (Capture* out : {&a, &b, &c}) {
    const std::string bytes = out->bytes();
    EXPECT_NE(bytes.find("o  Worked\n|\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\ro  Working"), std::string::npos) << "ticked on its own thread";
  }
  const std::string bytes = moved.bytes();
  EXPECT_NE(bytes.find("o  Taken over\n|\n"), std::string::npos) << bytes;
  EXPECT_EQ(bytes.find("Moved-from"), std::string::npos);
  EXPECT_TRUE(bytes.ends_with(kErased));
}

}  // namespace
