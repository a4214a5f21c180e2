// The spinner's ticker thread against the caller's thread: starting,
// finishing and dropping bars while the ticker draws. Built under
// ThreadSanitizer, which fails the run on any data race.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "prompt/spinner.hpp"
#include "support/scripted_term.hpp"

namespace {

TEST(SpinnerThreads, FinishOrDropAtAnyMomentOfTheTickerStopsIt) {
  DecisionOverride decisions(/*colours=*/true, /*unicode=*/true);
  std::vector<std::unique_ptr<ScriptedTerm>> outputs;
  std::vector<std::string> at_end;
  for (int i = 0; i < 24; ++i) {
    outputs.push_back(std::make_unique<ScriptedTerm>(std::vector<std::string>{}, 40));
    {
      ProgressBar bar(*outputs.back());
      bar.start(i % 2 ? "Cleaning\ntemporary cache" : "Syncing");
      std::this_thread::sleep_for(std::chrono::milliseconds(i * 9));
      if (i % 2 == 0) bar.finish_with_state("Synced", ThemeState::Submit);
    }
    at_end.push_back(outputs.back()->output());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string bytes = outputs[i]->output();
    EXPECT_EQ(bytes, at_end[i]) << "bar " << i << " drew after it ended";
    EXPECT_EQ(bytes.find("◑"), std::string::npos) << i;
    // The last write erases the live line: one row, or two.
    if (i % 2 == 0) {
      EXPECT_NE(bytes.find("◇\x1b[0m  Synced\n"), std::string::npos) << i;
      EXPECT_TRUE(bytes.ends_with("  Syncing\n\x1b[1A\r\x1b[2K\x1b[1B\x1b[1A")) << i;
    } else {
      EXPECT_TRUE(bytes.ends_with("  temporary cache\n\x1b[2A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[2A")) << i;
    }
  }
}

}  // namespace
