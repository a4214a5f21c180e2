#include "support/scoped_env.hpp"
#include "wizard/ssh_hosts.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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
      {"duplicates stay separate", "Host a\nHostName 1\nHost a\nHostName 2\n",
       {{"a", "1", "me", key}, {"a", "2", "me", key}}},
      {"file order", "Host z\nHostName 3\nHost m\nHostName 1\nHost a\nHostName 2\n",
       {{"z", "3", "me", key}, {"m", "1", "me", key}, {"a", "2", "me", key}}},
      {"Match and Include are ordinary keywords",
       "Host a\nMatch host other\nInclude ~/.ssh/more\nHostName h\n", {{"a", "h", "me", key}}},
      {"value is trimmed before the space check", "Host web   \nHostName   h  \n", {{"web", "h", "me", key}}},
      {"Unicode white space separates and trims",
       "Host\xC2\xA0web\nHostName\xE2\x80\x83h\xE3\x80\x80\n", {{"web", "h", "me", key}}},
      {"no-break space inside a name is no separator", "Host a\xC2\xA0" "b\nHostName x\n",
       {{"a\xC2\xA0" "b", "x", "me", key}}},
      {"empty text", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(show(parse_ssh_config(c.text)), show(c.want)) << c.what;
}

TEST(SshConfig, DefaultUserAndKeyOfABlock) {
  ScopedEnv home("HOME", "/home/t");
  const PartialHost bare{"a", "h", "", ""};
  {
    ScopedEnv user("USER", "alice");
    ScopedEnv logname("LOGNAME", "ops");
    EXPECT_EQ(into_ssh_host(bare)->user, "alice");
    EXPECT_EQ(into_ssh_host(bare)->identity_file, "/home/t/.ssh/id_rsa");
    EXPECT_EQ(into_ssh_host({"a", "h", "bob", "~/.ssh/k"}), (SshHost{"a", "h", "bob", "~/.ssh/k"}));
    EXPECT_EQ(into_ssh_host({"a", "", "bob", "~/.ssh/k"}), std::nullopt);
  }
  {
    ScopedEnv user("USER", std::nullopt);
    ScopedEnv logname("LOGNAME", "ops");
    EXPECT_EQ(into_ssh_host(bare)->user, "ops");
  }
  {
    ScopedEnv user("USER", "\xff");
    ScopedEnv logname("LOGNAME", "ops");
    EXPECT_EQ(into_ssh_host(bare)->user, "ops");
  }
  {
    ScopedEnv user("USER", std::nullopt);
    ScopedEnv logname("LOGNAME", std::nullopt);
    EXPECT_EQ(into_ssh_host(bare)->user, "root");
  }
  {
    ScopedEnv bad_home("HOME", "/home/\xff");
    EXPECT_EQ(into_ssh_host(bare)->identity_file, "/home/\xEF\xBF\xBD/.ssh/id_rsa");
  }
}

TEST(SshConfig, AnyProblemWithTheFileGivesNoHosts) {
  std::string tmpl = (fs::temp_directory_path() / "ssh-test-XXXXXX").string();
  const fs::path home = mkdtemp(tmpl.data());
  ScopedEnv home_var("HOME", home.string());
  ScopedEnv user("USER", "me");
  fs::create_directories(home / ".ssh");
  const fs::path config = home / ".ssh" / "config";

  EXPECT_TRUE(read_ssh_hosts().empty());  // no file

  std::ofstream(config) << "Host web\nHostName 10.0.0.5\n";
  EXPECT_EQ(show(read_ssh_hosts()), show({{"web", "10.0.0.5", "me", (home / ".ssh/id_rsa").string()}}));

  std::ofstream(config) << "Host web\nHostName 10.0.0.5\n# caf\xE9\n";
  EXPECT_TRUE(read_ssh_hosts().empty());  // not UTF-8

  fs::remove(config);
  fs::create_directory(config);
  EXPECT_TRUE(read_ssh_hosts().empty());  // a directory

  fs::remove_all(home);
}
