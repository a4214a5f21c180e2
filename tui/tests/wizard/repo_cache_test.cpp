#include "support/scoped_env.hpp"
#include "wizard/repo_cache.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A scratch directory with local bare repositories, built with the real git.
class Repos {
 public:
  Repos() {
    std::string tmpl = (fs::temp_directory_path() / "repo-cache-test-XXXXXX").string();
    root = mkdtemp(tmpl.data());
  }
  ~Repos() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  // A bare repository whose one commit holds `file` with `content`.
  std::string bare(const std::string& name, const std::string& file, const std::string& content) {
    const fs::path repo = root / (name + ".git");
    sh("git init -q --bare -b main '" + repo.string() + "'");
    commit(repo.string(), file, content);
    return repo.string();
  }

  // Adds a commit to `repo` through a throw-away working clone.
  void commit(const std::string& repo, const std::string& file, const std::string& content) {
    const fs::path work = root / ("work-" + std::to_string(counter_++));
    sh("git clone -q '" + repo + "' '" + work.string() + "' 2>/dev/null");
    std::ofstream(work / file) << content;
    sh("cd '" + work.string() +
       "' && git checkout -q -B main && git add -A && git -c user.name=t -c user.email=t@example.invalid commit -qm c"
       " && git push -q origin main 2>/dev/null");
  }

  static void sh(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

  fs::path root;

 private:
  int counter_ = 0;
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string remote_of(const fs::path& clone) {
  std::string out = (clone / "remote.txt").string();
  Repos::sh("git -C '" + clone.string() + "' remote get-url origin > '" + out + "'");
  return slurp(out);
}


}  // namespace

TEST(CloneOrUpdate, ClonesIntoFreshParentsAndPullsExistingClones) {
  Repos r;
  const std::string dots = r.bare("dots", "README", "v1\n");
  const fs::path dest = r.root / "cache" / "deep" / "configs";

  testing::internal::CaptureStderr();
  auto cloned = clone_or_update_repo(dots, dest.string());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // git's chatter is discarded
  ASSERT_TRUE(cloned) << cloned.error().message();
  EXPECT_EQ(slurp(dest / "README"), "v1\n");

  // An existing clone is pulled; the URL given is not used then.
  r.commit(dots, "README", "v2\n");
  auto pulled = clone_or_update_repo("/nonexistent/other.git", dest.string());
  ASSERT_TRUE(pulled) << pulled.error().message();
  EXPECT_EQ(slurp(dest / "README"), "v2\n");
  EXPECT_EQ(remote_of(dest), dots + "\n");
}

TEST(CloneOrUpdate, ReplacesWhatCannotBeUpdated) {
  Repos r;
  const std::string first = r.bare("first", "from-first", "1\n");
  const std::string second = r.bare("second", "from-second", "2\n");
  const fs::path dest = r.root / "configs";

  // A clone whose pull fails is removed and cloned again from the given URL.
  ASSERT_TRUE(clone_or_update_repo(first, dest.string()));
  Repos::sh("git -C '" + dest.string() + "' remote set-url origin /nonexistent/gone.git");
  std::ofstream(dest / "local-only") << "x";
  auto recloned = clone_or_update_repo(second, dest.string());
  ASSERT_TRUE(recloned) << recloned.error().message();
  EXPECT_TRUE(fs::exists(dest / "from-second"));
  EXPECT_FALSE(fs::exists(dest / "from-first"));
  EXPECT_FALSE(fs::exists(dest / "local-only"));

  // A directory that is not a clone is removed before cloning.
  const fs::path stale = r.root / "wallpapers";
  fs::create_directories(stale / "sub");
  std::ofstream(stale / "sub" / "stale.txt") << "old";
  ASSERT_TRUE(clone_or_update_repo(first, stale.string()));
  EXPECT_FALSE(fs::exists(stale / "sub"));
  EXPECT_TRUE(fs::exists(stale / "from-first"));

  // So is a plain file in the way.
  const fs::path file = r.root / "file-in-the-way";
  std::ofstream(file) << "x";
  ASSERT_TRUE(clone_or_update_repo(first, file.string()));
  EXPECT_TRUE(fs::exists(file / "from-first"));
}

TEST(CloneOrUpdate, FailuresCarryTheirMessages) {
  Repos r;
  const fs::path dest = r.root / "parent" / "configs";

  testing::internal::CaptureStderr();
  auto unreachable = clone_or_update_repo("/nonexistent/dots.git", dest.string());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_FALSE(unreachable);
  EXPECT_EQ(unreachable.error().message(), "Failed to clone repository: /nonexistent/dots.git");
  EXPECT_TRUE(unreachable.error().causes().empty());
  EXPECT_TRUE(fs::is_directory(r.root / "parent"));  // created before git ran
  EXPECT_FALSE(fs::exists(dest));

  auto no_parent = clone_or_update_repo("/nonexistent/dots.git", "");
  ASSERT_FALSE(no_parent);
  EXPECT_EQ(no_parent.error().message(), "No parent directory");

  // The parent cannot be created below a plain file.
  std::ofstream(r.root / "blocker") << "x";
  auto blocked = clone_or_update_repo("/nonexistent/dots.git", (r.root / "blocker" / "configs").string());
  ASSERT_FALSE(blocked);
  EXPECT_EQ(blocked.error().message(), "Not a directory (os error 20)");

  // Without git on PATH both the clone and the pull report the system's reason.
  const std::string dots = r.bare("dots", "README", "v1\n");
  const fs::path clone = r.root / "existing";
  ASSERT_TRUE(clone_or_update_repo(dots, clone.string()));
  fs::create_directories(r.root / "empty-bin");
  ScopedEnv path("PATH", (r.root / "empty-bin").string());
  for (const fs::path& target : {r.root / "fresh", clone}) {
    auto missing = clone_or_update_repo(dots, target.string());
    ASSERT_FALSE(missing) << target;
    EXPECT_EQ(missing.error().message(), "No such file or directory (os error 2)") << target;
  }
  EXPECT_TRUE(fs::exists(clone / "README"));  // a pull that never started removes nothing
}
