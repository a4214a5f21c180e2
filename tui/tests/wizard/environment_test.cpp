#include "support/scoped_env.hpp"
#include "wizard/environment.hpp"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {


struct TempTree {
  fs::path root;
  TempTree() {
    std::string tmpl = (fs::temp_directory_path() / "env-test-XXXXXX").string();
    root = mkdtemp(tmpl.data());
  }
  ~TempTree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path file(const fs::path& rel, fs::perms mode) const {
    fs::create_directories((root / rel).parent_path());
    std::ofstream(root / rel) << "#!/bin/sh\n";
    fs::permissions(root / rel, mode);
    return root / rel;
  }
};

std::string password_home() {
  passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_dir : "";
}

}  // namespace

TEST(PathLookup, OnlyAnExecutableRegularFileQualifies) {
  TempTree t;
  fs::create_directories(t.root / "a" / "git");  // a directory named git
  t.file("b/git", fs::perms::owner_read | fs::perms::owner_write);
  t.file("c/git", fs::perms::owner_all);
  fs::create_directories(t.root / "d");
  fs::create_symlink(t.root / "c" / "git", t.root / "d" / "git");
  const std::string a = (t.root / "a").string(), b = (t.root / "b").string(), c = (t.root / "c").string(),
                    d = (t.root / "d").string();

  {
    ScopedEnv path("PATH", a + ":" + b + ":" + c);
    EXPECT_EQ(find_on_path("git"), c + "/git");
    EXPECT_EQ(find_on_path("ansible-playbook"), std::nullopt);
  }
  {
    ScopedEnv path("PATH", a + ":" + b);
    EXPECT_EQ(find_on_path("git"), std::nullopt);
  }
  {
    // A link to an executable counts; the link's own path is the answer.
    ScopedEnv path("PATH", d + ":" + c);
    EXPECT_EQ(find_on_path("git"), d + "/git");
  }
  {
    ScopedEnv path("PATH", std::nullopt);
    EXPECT_EQ(find_on_path("git"), std::nullopt);
  }
  {
    // A dangling link is not a file.
    fs::create_symlink(t.root / "nowhere", t.root / "a" / "ansible-playbook");
    ScopedEnv path("PATH", a);
    EXPECT_EQ(find_on_path("ansible-playbook"), std::nullopt);
  }
}

TEST(PathLookup, TildeEntryStartsAtTheHomeDirectory) {
  TempTree t;
  t.file("home/bin/git", fs::perms::owner_all);
  ScopedEnv home("HOME", (t.root / "home").string());
  {
    ScopedEnv path("PATH", "/nonexistent:~/bin");
    EXPECT_EQ(find_on_path("git"), (t.root / "home" / "bin" / "git").string());
  }
  {
    // Only a whole first component "~" is replaced.
    ScopedEnv path("PATH", "~bin:x~/bin");
    EXPECT_EQ(find_on_path("git"), std::nullopt);
  }
  {
    t.file("home/git", fs::perms::owner_all);
    ScopedEnv path("PATH", "~");
    EXPECT_EQ(find_on_path("git"), (t.root / "home" / "git").string());
  }
}

TEST(HomeDir, FallsBackToThePasswordDatabase) {
  {
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(home_dir(), "/home/someone");
  }
  const std::string from_db = password_home();
  ASSERT_FALSE(from_db.empty()) << "the test user needs a password database entry";
  {
    ScopedEnv home("HOME", "");
    EXPECT_EQ(home_dir(), from_db);
  }
  {
    ScopedEnv home("HOME", std::nullopt);
    EXPECT_EQ(home_dir(), from_db);
    EXPECT_EQ(expand_tilde("~/temp/x"), (fs::path(from_db) / "temp/x").string());
  }
}

TEST(ExpandTilde, OnlyALeadingTildeSlashIsExpanded) {
  ScopedEnv home("HOME", "/home/a");
  const struct {
    const char* in;
    const char* want;
  } cases[] = {
      {"~/temp/x", "/home/a/temp/x"},
      {"~/temp/.tervane-bootstrap", "/home/a/temp/.tervane-bootstrap"},
      {"~", "~"},
      {"", ""},
      {"/etc/x", "/etc/x"},
      {"~bob/x", "~bob/x"},
      {"x/~/y", "x/~/y"},
      {"~/", "/home/a/"},
      {"~//etc/passwd", "/etc/passwd"},
      {"relative/path", "relative/path"},
  };
  for (const auto& c : cases) EXPECT_EQ(expand_tilde(c.in), c.want) << c.in;

  {
    ScopedEnv slash("HOME", "/home/a/");
    EXPECT_EQ(expand_tilde("~/b"), "/home/a/b");
  }
  {
    ScopedEnv bad("HOME", "/home/\xff\xfe");
    EXPECT_EQ(expand_tilde("~/x"), "/home/\xEF\xBF\xBD\xEF\xBF\xBD/x");
  }
}

TEST(EnvText, UnsetOrInvalidUtf8GivesNothing) {
  ScopedEnv set("TERVANE_TEST_VAR", "caf\xC3\xA9");
  EXPECT_EQ(env_text("TERVANE_TEST_VAR"), "caf\xC3\xA9");
  {
    ScopedEnv empty("TERVANE_TEST_VAR", "");
    EXPECT_EQ(env_text("TERVANE_TEST_VAR"), "");
  }
  {
    ScopedEnv bad("TERVANE_TEST_VAR", "caf\xE9");
    EXPECT_EQ(env_text("TERVANE_TEST_VAR"), std::nullopt);
  }
  {
    ScopedEnv unset("TERVANE_TEST_VAR", std::nullopt);
    EXPECT_EQ(env_text("TERVANE_TEST_VAR"), std::nullopt);
  }
}
