// clone_or_update_repo with the real git and local bare repositories.
#include "wizard/repo_cache.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

namespace {

void sh(const std::string& command) { EXPECT_EQ(std::system(command.c_str()), 0) << command; }

// Commits `file` with `content` to the bare repository `name`.git in `t`,
// creating it on first use; returns its path.
std::string publish(const TempDir& t, const std::string& name, const std::string& file, const std::string& content) {
  const std::string bare = (t / (name + ".git")).string(), work = (t / ("work-" + name)).string();
  if (!fs::exists(bare))
    sh("git init -q --bare -b main '" + bare + "' && git init -q -b main '" + work + "' && git -C '" + work +
       "' remote add origin '" + bare + "'");
  t.write_file(fs::path(work) / file, content);
  sh("git -C '" + work + "' add -A && git -C '" + work +
     "' -c user.name=t -c user.email=t@example.invalid commit -qm c && git -C '" + work +
     "' push -q origin main 2>/dev/null");
  return bare;
}

}  // namespace

TEST(CloneOrUpdate, ClonesIntoFreshParentsAndPullsExistingClones) {
  TempDir t;
  const std::string dots = publish(t, "dots", "README", "v1\n");
  const fs::path dest = t / "cache/deep/configs";

  testing::internal::CaptureStderr();
  auto cloned = clone_or_update_repo(dots, dest.string());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // git's chatter is discarded
  ASSERT_TRUE(cloned) << cloned.error().message();
  EXPECT_EQ(read_file(dest / "README"), "v1\n");

  // An existing clone is pulled; the URL given is not used then.
  publish(t, "dots", "README", "v2\n");
  auto pulled = clone_or_update_repo("/nonexistent/other.git", dest.string());
  ASSERT_TRUE(pulled) << pulled.error().message();
  EXPECT_EQ(read_file(dest / "README"), "v2\n");
}

TEST(CloneOrUpdate, ReplacesWhatCannotBeUpdated) {
  TempDir t;
  const std::string first = publish(t, "first", "from-first", "1\n");
  const std::string second = publish(t, "second", "from-second", "2\n");
  const fs::path dest = t / "configs";

  // A clone whose pull fails is removed and cloned again from the given URL.
  ASSERT_TRUE(clone_or_update_repo(first, dest.string()));
  sh("git -C '" + dest.string() + "' remote set-url origin /nonexistent/gone.git");
  t.write_file(dest / "local-only", "x");
  auto recloned = clone_or_update_repo(second, dest.string());
  ASSERT_TRUE(recloned) << recloned.error().message();
  EXPECT_TRUE(fs::exists(dest / "from-second"));
  EXPECT_FALSE(fs::exists(dest / "from-first"));
  EXPECT_FALSE(fs::exists(dest / "local-only"));

  // A directory that is not a clone is removed before cloning.
  const fs::path stale = t / "wallpapers";
  t.write_file(stale / "sub/stale.txt", "old");
  ASSERT_TRUE(clone_or_update_repo(first, stale.string()));
  EXPECT_FALSE(fs::exists(stale / "sub"));
  EXPECT_TRUE(fs::exists(stale / "from-first"));
}

TEST(CloneOrUpdate, FailuresCarryTheirMessages) {
  TempDir t;
  const fs::path dest = t / "parent/configs";

  testing::internal::CaptureStderr();
  auto unreachable = clone_or_update_repo("/nonexistent/dots.git", dest.string());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_FALSE(unreachable);
  EXPECT_EQ(unreachable.error().message(), "Failed to clone repository: /nonexistent/dots.git");
  EXPECT_TRUE(unreachable.error().causes().empty());
  EXPECT_TRUE(fs::is_directory(t / "parent"));  // created before git ran
  EXPECT_FALSE(fs::exists(dest));

  auto no_parent = clone_or_update_repo("/nonexistent/dots.git", "");
  ASSERT_FALSE(no_parent);
  EXPECT_EQ(no_parent.error().message(), "No parent directory");

  t.write_file("blocker", "x");  // the parent cannot be created below a file
  auto blocked = clone_or_update_repo("/nonexistent/dots.git", (t / "blocker/configs").string());
  ASSERT_FALSE(blocked);
  EXPECT_EQ(blocked.error().message(), "Not a directory (os error 20)");

  // Without git on PATH both the clone and the pull report the system's reason.
  const std::string dots = publish(t, "dots", "README", "v1\n");
  const fs::path clone = t / "existing";
  ASSERT_TRUE(clone_or_update_repo(dots, clone.string()));
  fs::create_directories(t / "empty-bin");
  ScopedEnv path("PATH", (t / "empty-bin").string());
  for (const fs::path& target : {t / "fresh", clone}) {
    auto missing = clone_or_update_repo(dots, target.string());
    ASSERT_FALSE(missing) << target;
    EXPECT_EQ(missing.error().message(), "No such file or directory (os error 2)") << target;
  }
  EXPECT_TRUE(fs::exists(clone / "README"));  // a pull that never started removes nothing
}
