// The "clean" command run as a user would: the built wizard in a terminal,
// a home directory of its own, real git clones in the cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

const char* const kRemoved = "Temporary folder ~/temp/.tervane-bootstrap/ removed successfully.";
const char* const kAlreadyClean = "No cached files found. Local machine is already clean.";

struct Outcome {
  PtyExit exit;
  std::string screen;  // what is left on the terminal
  std::string output;  // every byte written, spinner frames included
};

// Picks "clean" from the command menu and waits for the run to end.
Outcome run_clean(const Sandbox& box) {
  PtyOptions options;
  options.cwd = box.work.string();
  PtyDriver tty(box.wizard_argv(), box.env(), options);
  EXPECT_TRUE(tty.expect("Select a global command to continue:"));
  tty.settle();
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  EXPECT_TRUE(tty.expect_screen("Clean completed!"));
  Outcome o{tty.wait(), "", ""};
  o.screen = tty.screen().text();
  o.output = tty.output();
  return o;
}

// A cache like the one setup leaves: two real clones below home.
void fill_cache(Sandbox& box, const fs::path& home, const std::string& repo_name = "dots") {
  const fs::path repo = box.bare_repo(repo_name, {{"README", "dots\n"}});
  const fs::path root = home / "temp" / ".tervane-bootstrap";
  for (const char* name : {"configs", "wallpapers"})
    ASSERT_EQ(box.run({"git", "clone", "-q", repo.string(), (root / name).string()}).status, 0);
  ASSERT_TRUE(fs::exists(root / "configs" / ".git"));
}

}  // namespace

TEST(CleanCommand, RemovesTheCacheThenFindsNothingTheSecondTime) {
  Sandbox box;
  fill_cache(box, box.home);

  auto [first, screen, output] = run_clean(box);
  EXPECT_TRUE(first.exited);
  EXPECT_EQ(first.code, 0);
  EXPECT_NE(output.find("Cleaning temporary cache folder\u2026"), std::string::npos);
  EXPECT_EQ(screen.find("Cleaning temporary cache folder"), std::string::npos) << screen;
  EXPECT_NE(screen.find("◇  Select a global command to continue:\n│  Clear temp, cache...\n"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find(std::string("◇  ") + kRemoved), std::string::npos) << screen;
  EXPECT_NE(screen.find("└  Clean completed!"), std::string::npos) << screen;
  EXPECT_EQ(screen.find(kAlreadyClean), std::string::npos) << screen;
  EXPECT_FALSE(fs::exists(box.home / "temp" / ".tervane-bootstrap"));
  EXPECT_TRUE(fs::exists(box.home / "temp"));  // only the cache root goes

  const Outcome second = run_clean(box);
  screen = second.screen;
  EXPECT_TRUE(second.exit.exited);
  EXPECT_EQ(second.exit.code, 0);
  EXPECT_NE(screen.find(std::string("◇  ") + kAlreadyClean), std::string::npos) << screen;
  EXPECT_EQ(screen.find(kRemoved), std::string::npos) << screen;
}

TEST(CleanCommand, FollowsHomeButNamesTheTildePath) {
  Sandbox box;
  const fs::path other = box.dir / "elsewhere";
  fill_cache(box, other);
  fill_cache(box, box.home, "home-dots");
  box.set_env("HOME", other.string());

  const Outcome o = run_clean(box);
  EXPECT_EQ(o.exit.code, 0);
  EXPECT_NE(o.screen.find(kRemoved), std::string::npos) << o.screen;
  EXPECT_FALSE(fs::exists(other / "temp" / ".tervane-bootstrap"));
  EXPECT_TRUE(fs::exists(box.home / "temp" / ".tervane-bootstrap" / "configs" / ".git"));
}

TEST(CleanCommand, RemovesALinkAtTheCacheRootButNotWhatItPointsTo) {
  Sandbox box;
  const fs::path kept = box.dir / "kept";
  fs::create_directories(kept / "configs");
  box.dir.write_file(kept / "configs" / "precious", "data");
  fs::create_directories(box.home / "temp");
  fs::create_directory_symlink(kept, box.home / "temp" / ".tervane-bootstrap");

  Outcome o = run_clean(box);
  EXPECT_EQ(o.exit.code, 0);
  EXPECT_NE(o.screen.find(kRemoved), std::string::npos) << o.screen;
  EXPECT_FALSE(fs::exists(fs::symlink_status(box.home / "temp" / ".tervane-bootstrap")));
  EXPECT_EQ(read_file(kept / "configs" / "precious"), "data");

  // A link whose target is gone counts as no cache and is left alone.
  fs::create_directory_symlink(box.dir / "gone", box.home / "temp" / ".tervane-bootstrap");
  o = run_clean(box);
  EXPECT_EQ(o.exit.code, 0);
  EXPECT_NE(o.screen.find(kAlreadyClean), std::string::npos) << o.screen;
  EXPECT_TRUE(fs::is_symlink(box.home / "temp" / ".tervane-bootstrap"));
}
