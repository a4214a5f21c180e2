#include "wizard/environment.hpp"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

TEST(PathLookup, FirstExecutableRegularFileOfPath) {
  TempDir t;
  fs::create_directories(t / "a/git");  // a directory named git
  t.write_file("b/git", "#!/bin/sh\n", 0644);
  t.write_file("c/git", "#!/bin/sh\n", 0755);
  fs::create_directories(t / "d");
  fs::create_symlink(t / "c/git", t / "d/git");
  t.write_file("home/bin/git", "#!/bin/sh\n", 0755);
  const std::string a = (t / "a").string(), b = (t / "b").string(), c = (t / "c").string(),
                    d = (t / "d").string();
  ScopedEnv home("HOME", (t / "home").string());

  const struct {
    std::optional<std::string> path, want;
  } cases[] = {
      {a + ":" + b + ":" + c, c + "/git"},  // a later entry that qualifies
      {a + ":" + b, std::nullopt},
      {d + ":" + c, d + "/git"},  // a link counts, under its own path
      {std::nullopt, std::nullopt},
      {"/nonexistent:~/bin", (t / "home/bin/git").string()},
      {"~bin:x~/bin", std::nullopt},  // only a whole first component "~"
  };
  for (const auto& k : cases) {
    ScopedEnv path("PATH", k.path);
    EXPECT_EQ(find_on_path("git"), k.want) << k.path.value_or("(unset)");
  }
}

TEST(HomeDir, HomeUnsetOrEmptyFallsBackToThePasswordDatabase) {
  {
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(home_dir(), "/home/someone");
  }
  const passwd* pw = getpwuid(getuid());
  ASSERT_TRUE(pw != nullptr && *pw->pw_dir) << "the test user needs a password database entry";
  const std::string from_db = pw->pw_dir;
  for (const auto& value : {std::optional<std::string>(""), std::optional<std::string>()}) {
    ScopedEnv home("HOME", value);
    EXPECT_EQ(home_dir(), from_db);
    EXPECT_EQ(expand_tilde("~/temp/x"), (fs::path(from_db) / "temp/x").string());
  }
}

TEST(ExpandTilde, OnlyALeadingTildeSlashIsExpanded) {
  ScopedEnv home("HOME", "/home/a");
  const struct {
    const char *in, *want;
  } cases[] = {
      {"~/temp/x", "/home/a/temp/x"}, {"~", "~"},          {"/etc/x", "/etc/x"},
      {"~bob/x", "~bob/x"},           {"x/~/y", "x/~/y"},  {"~/", "/home/a/"},
      {"~//etc/passwd", "/etc/passwd"},
  };
  for (const auto& c : cases) EXPECT_EQ(expand_tilde(c.in), c.want) << c.in;
  {
    ScopedEnv slash("HOME", "/home/a/");
    EXPECT_EQ(expand_tilde("~/b"), "/home/a/b");
  }
  ScopedEnv bad("HOME", "/home/\xff\xfe");
  EXPECT_EQ(expand_tilde("~/x"), "/home/\xEF\xBF\xBD\xEF\xBF\xBD/x");
}
