// The "clean" command run as a user would: the built wizard in a terminal,
// a home directory of its own, real git clones in the cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kRemoved = "Temporary folder ~/temp/.tervane-bootstrap/ removed successfully.";
const std::string kAlreadyClean = "No cached files found. Local machine is already clean.";
const std::string kHead = "┌   Tervane TUI Wizard\n│\n◇  Select a global command to continue:\n│  Clear temp, cache...\n│\n";

struct Outcome {
  PtyExit exit;
  std::string screen;  // what is left on the terminal
  std::string output;  // every byte written, spinner frames included
};

/// Picks "clean" from the command menu and waits for the run to end.
Outcome run_clean(const Sandbox& box) {
  PtyDriver tty(box.wizard_argv(), box.env(), {.cols = 90, .rows = 20, .cwd = box.work.string()});
  EXPECT_TRUE(tty.expect("Select a global command to continue:"));
  tty.settle();
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  EXPECT_TRUE(tty.expect_screen("Clean completed!"));
  Outcome o{tty.wait(), tty.screen().text(), tty.output()};
  EXPECT_TRUE(tty.screen().cursor_visible());
  return o;
}

/// A cache like the one setup leaves: two real clones below `home`.
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

  const Outcome first = run_clean(box);
  EXPECT_TRUE(first.exit.exited);
  EXPECT_EQ(first.exit.code, 0);
  // The spinner ran without ever showing its last frame; its live line is
  // replaced by the final one.
  EXPECT_NE(first.output.find("Cleaning temporary cache folder…"), std::string::npos);
  EXPECT_EQ(first.output.find("◑"), std::string::npos);
  EXPECT_EQ(first.screen, kHead + "◇  " + kRemoved + "\n│\n└  Clean completed!");
  EXPECT_FALSE(fs::exists(box.home / "temp" / ".tervane-bootstrap"));
  EXPECT_TRUE(fs::exists(box.home / "temp"));  // only the cache root goes

  const Outcome second = run_clean(box);
  EXPECT_EQ(second.exit.code, 0);
  EXPECT_EQ(second.screen, kHead + "◇  " + kAlreadyClean + "\n│\n└  Clean completed!");
}

TEST(CleanCommand, NoColorHidesTheSpinnerWhilePromptsAreDrawnPlain) {
  Sandbox box;
  box.set_env("NO_COLOR", "1");
  fill_cache(box, box.home);
  const Outcome o = run_clean(box);
  EXPECT_EQ(o.exit.code, 0);
  EXPECT_FALSE(fs::exists(box.home / "temp" / ".tervane-bootstrap"));
  // Neither the live line nor its final line; the menu and the closing line
  // without a colour sequence.
  for (const char* absent : {"Cleaning", "removed successfully", "◒", "◐", "◓", "\x1b[3"})
    EXPECT_EQ(o.output.find(absent), std::string::npos) << absent << "\n" << o.output;
  EXPECT_EQ(o.screen, kHead + "└  Clean completed!");
}

TEST(CleanCommand, FollowsHomeButNamesTheTildePath) {
  Sandbox box;
  const fs::path other = box.dir / "elsewhere";
  fill_cache(box, other);
  fill_cache(box, box.home, "home-dots");
  box.set_env("HOME", other.string());

  const Outcome o = run_clean(box);
  EXPECT_EQ(o.exit.code, 0);
  EXPECT_NE(o.screen.find("◇  " + kRemoved), std::string::npos) << o.screen;
  EXPECT_FALSE(fs::exists(other / "temp" / ".tervane-bootstrap"));
  EXPECT_TRUE(fs::exists(box.home / "temp" / ".tervane-bootstrap" / "configs" / ".git"));
}

TEST(CleanCommand, RemovesALinkAtTheCacheRootButNotWhatItPointsTo) {
  Sandbox box;
  const fs::path link = box.home / "temp" / ".tervane-bootstrap";
  box.dir.write_file(box.dir / "kept" / "configs" / "precious", "data");
  fs::create_directories(link.parent_path());
  fs::create_directory_symlink(box.dir / "kept", link);

  Outcome o = run_clean(box);
  EXPECT_EQ(o.exit.code, 0);
  EXPECT_NE(o.screen.find(kRemoved), std::string::npos) << o.screen;
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(read_file(box.dir / "kept" / "configs" / "precious"), "data");

  // A link whose target is gone counts as no cache and is left alone.
  fs::create_directory_symlink(box.dir / "gone", link);
  o = run_clean(box);
  EXPECT_EQ(o.exit.code, 0);
  EXPECT_NE(o.screen.find(kAlreadyClean), std::string::npos) << o.screen;
  EXPECT_TRUE(fs::is_symlink(link));
}
