#include "wizard/ssh_hosts.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

namespace {

std::string show(const std::vector<SshHost>& hosts) {
  std::string out;
  for (const auto& h : hosts) out += "[" + h.name + "|" + h.hostname + "|" + h.user + "|" + h.identity_file + "]";
  return out;
}

}  // namespace

TEST(SshConfig, ParsesTheSubsetTheWizardUnderstands) {
  ScopedEnv home("HOME", "/home/t");
  ScopedEnv user("USER", "me");
  const std::string key = "/home/t/.ssh/id_rsa";
  const struct {
    const char* what;
    std::string text;
    std::vector<SshHost> want;
  } cases[] = {
      {"a complete block",
       "Host web\nHostName 10.0.0.5\nUser deploy\nIdentityFile ~/.ssh/web_key\n",
       {{"web", "10.0.0.5", "deploy", "~/.ssh/web_key"}}},
      {"CRLF line ends",
       "Host web\r\nHostName 10.0.0.5\r\nUser deploy\r\nIdentityFile ~/.ssh/web_key\r\n",
       {{"web", "10.0.0.5", "deploy", "~/.ssh/web_key"}}},
      {"defaults fill user and key", "Host a\nHostName h\n", {{"a", "h", "me", key}}},
      {"last line without line feed", "Host a\nHostName h", {{"a", "h", "me", key}}},
      {"wildcard block swallows its keywords", "Host *\nUser admin\nHost b\nHostName hb\n", {{"b", "hb", "me", key}}},
      {"wildcard after a host ends that host", "Host a\nHostName h\nHost *\nUser admin\nHostName x\n",
       {{"a", "h", "me", key}}},
      {"two patterns", "Host a b\nHostName x\n", {}},
      {"question mark", "Host db?\nHostName x\n", {}},
      {"tab inside the name is kept", "Host a\tb\nHostName x\n", {{"a\tb", "x", "me", key}}},
      {"no HostName", "Host lonely\nUser u\nIdentityFile ~/k\n", {}},
      {"keywords in any case, values keep theirs",
       "HOST Web\nHOSTNAME Box.Example\nuSeR Ops\nidentityFILE ~/K\n", {{"Web", "Box.Example", "Ops", "~/K"}}},
      {"only whole-line comments", "Host a\nHostName x # note\n", {{"a", "x # note", "me", key}}},
      {"comments, blank lines and indentation",
       "# top\n\n   Host a\n\t# inner\n\tHostName h\n   \n", {{"a", "h", "me", key}}},
      {"keyword before any Host", "HostName stray\nUser u\nHost a\nHostName h\n", {{"a", "h", "me", key}}},
      {"last value wins", "Host a\nHostName one\nUser x\nHostName two\nUser y\n", {{"a", "two", "y", key}}},
      {"equals form and bare keyword are skipped", "Host a\nHostName=x\nHostName\n", {}},
      {"file order, duplicates kept", "Host z\nHostName 1\nHost a\nHostName 2\nHost z\nHostName 3\n",
       {{"z", "1", "me", key}, {"a", "2", "me", key}, {"z", "3", "me", key}}},
      {"Match and Include are ordinary keywords",
       "Host a\nMatch host other\nInclude ~/.ssh/more\nHostName h\n", {{"a", "h", "me", key}}},
      {"value is trimmed before the space check", "Host web   \nHostName   h  \n", {{"web", "h", "me", key}}},
      {"Unicode white space separates and trims",
       "Host\xC2\xA0web\nHostName\xE2\x80\x83h\xE3\x80\x80\n", {{"web", "h", "me", key}}},
      {"no-break space inside a name is no separator", "Host a\xC2\xA0" "b\nHostName x\n",
       {{"a\xC2\xA0" "b", "x", "me", key}}},
  };
  for (const auto& c : cases) EXPECT_EQ(show(parse_ssh_config(c.text)), show(c.want)) << c.what;
}

TEST(SshConfig, DefaultUserIsUserThenLognameThenRoot) {
  ScopedEnv home("HOME", "/home/\xff");  // written with U+FFFD in the key
  const struct {
    std::optional<std::string> user, logname;
    const char* want;
  } cases[] = {
      {"alice", "ops", "alice"},
      {std::nullopt, "ops", "ops"},
      {"\xff", "ops", "ops"},  // not UTF-8: as if unset
      {std::nullopt, std::nullopt, "root"},
  };
  for (const auto& c : cases) {
    ScopedEnv user("USER", c.user);
    ScopedEnv logname("LOGNAME", c.logname);
    EXPECT_EQ(into_ssh_host({"a", "h", "", ""}), (SshHost{"a", "h", c.want, "/home/\xEF\xBF\xBD/.ssh/id_rsa"}))
        << c.want;
  }
}

TEST(SshConfig, AnyProblemWithTheFileGivesNoHosts) {
  TempDir home;
  ScopedEnv home_var("HOME", home.path().string());
  ScopedEnv user("USER", "me");
  EXPECT_TRUE(read_ssh_hosts().empty());  // no file

  home.write_file(".ssh/config", "Host web\nHostName 10.0.0.5\n");
  EXPECT_EQ(show(read_ssh_hosts()), show({{"web", "10.0.0.5", "me", (home / ".ssh/id_rsa").string()}}));

  home.write_file(".ssh/config", "Host web\nHostName 10.0.0.5\n# caf\xE9\n");
  EXPECT_TRUE(read_ssh_hosts().empty());  // not UTF-8

  fs::remove(home / ".ssh/config");
  fs::create_directory(home / ".ssh/config");
  EXPECT_TRUE(read_ssh_hosts().empty());  // a directory
}
