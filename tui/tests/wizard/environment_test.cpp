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

// Sets or unsets one variable for the scope of a test.
class EnvVar {
 public:
  EnvVar(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

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
    EnvVar path("PATH", a + ":" + b + ":" + c);
    EXPECT_EQ(find_on_path("git"), c + "/git");
    EXPECT_EQ(find_on_path("ansible-playbook"), std::nullopt);
  }
  {
    EnvVar path("PATH", a + ":" + b);
    EXPECT_EQ(find_on_path("git"), std::nullopt);
  }
  {
    // A link to an executable counts; the link's own path is the answer.
    EnvVar path("PATH", d + ":" + c);
    EXPECT_EQ(find_on_path("git"), d + "/git");
  }
  {
    EnvVar path("PATH", std::nullopt);
    EXPECT_EQ(find_on_path("git"), std::nullopt);
  }
  {
    // A dangling link is not a file.
    fs::create_symlink(t.root / "nowhere", t.root / "a" / "ansible-playbook");
    EnvVar path("PATH", a);
    EXPECT_EQ(find_on_path("ansible-playbook"), std::nullopt);
  }
}

TEST(PathLookup, TildeEntryStartsAtTheHomeDirectory) {
  TempTree t;
  t.file("home/bin/git", fs::perms::owner_all);
  EnvVar home("HOME", (t.root / "home").string());
  {
    EnvVar path("PATH", "/nonexistent:~/bin");
    EXPECT_EQ(find_on_path("git"), (t.root / "home" / "bin" / "git").string());
  }
  {
    // Only a whole first component "~" is replaced.
    EnvVar path("PATH", "~bin:x~/bin");
    EXPECT_EQ(find_on_path("git"), std::nullopt);
  }
  {
    t.file("home/git", fs::perms::owner_all);
    EnvVar path("PATH", "~");
    EXPECT_EQ(find_on_path("git"), (t.root / "home" / "git").string());
  }
}

TEST(HomeDir, FallsBackToThePasswordDatabase) {
  {
    EnvVar home("HOME", "/home/someone");
    EXPECT_EQ(home_dir(), "/home/someone");
  }
  const std::string from_db = password_home();
  ASSERT_FALSE(from_db.empty()) << "the test user needs a password database entry";
  {
    EnvVar home("HOME", "");
    EXPECT_EQ(home_dir(), from_db);
  }
  {
    EnvVar home("HOME", std::nullopt);
    EXPECT_EQ(home_dir(), from_db);
    EXPECT_EQ(expand_tilde("~/temp/x"), (fs::path(from_db) / "temp/x").string());
  }
}

TEST(ExpandTilde, OnlyALeadingTildeSlashIsExpanded) {
  EnvVar home("HOME", "/home/a");
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
    EnvVar slash("HOME", "/home/a/");
    EXPECT_EQ(expand_tilde("~/b"), "/home/a/b");
  }
  {
    EnvVar bad("HOME", "/home/\xff\xfe");
    EXPECT_EQ(expand_tilde("~/x"), "/home/\xEF\xBF\xBD\xEF\xBF\xBD/x");
  }
}

TEST(EnvText, UnsetOrInvalidUtf8GivesNothing) {
  EnvVar set("TERVANE_TEST_VAR", "caf\xC3\xA9");
  EXPECT_EQ(env_text("TERVANE_TEST_VAR"), "caf\xC3\xA9");
  {
    EnvVar empty("TERVANE_TEST_VAR", "");
    EXPECT_EQ(env_text("TERVANE_TEST_VAR"), "");
  }
  {
    EnvVar bad("TERVANE_TEST_VAR", "caf\xE9");
    EXPECT_EQ(env_text("TERVANE_TEST_VAR"), std::nullopt);
  }
  {
    EnvVar unset("TERVANE_TEST_VAR", std::nullopt);
    EXPECT_EQ(env_text("TERVANE_TEST_VAR"), std::nullopt);
  }
}
