#include "wizard/ssh_hosts.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
  for (const auto& h : hosts) {
    out += "[" + h.name + "|" + h.hostname + "|" + h.user + "|" + h.identity_file;
    if (h.port != 0) out += "|port " + std::to_string(h.port);
    if (!h.proxy.empty()) out += "|" + h.proxy;
    out += "]";
  }
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
      {"Port, the last line winning", "Host vm\nHostName 127.0.0.1\nport 22\nPort 2222\n",
       {{"vm", "127.0.0.1", "me", key, 2222}}},
      {"ports 1 and 65535", "Host a\nHostName h\nPort 1\nHost b\nHostName h\nPort 065535\n",
       {{"a", "h", "me", key, 1}, {"b", "h", "me", key, 65535}}},
      {"a port that is no number from 1 to 65535 makes the block unusable",
       "Host a\nHostName h\nPort 0\nHost b\nHostName h\nPort 65536\nHost c\nHostName h\nPort ssh\n"
       "Host d\nHostName h\nPort +22\nHost e\nHostName h\nPort 99999999999\nHost f\nHostName h\n",
       {{"f", "h", "me", key}}},
      {"only whole-line comments", "Host a\nHostName x # note\n", {{"a", "x # note", "me", key}}},
      {"comments, blank lines and indentation",
       "# top\n\n   Host a\n\t# inner\n\tHostName h\n   \n", {{"a", "h", "me", key}}},
      {"keyword before any Host", "HostName stray\nUser u\nHost a\nHostName h\n", {{"a", "h", "me", key}}},
      {"last value wins", "Host a\nHostName one\nUser x\nHostName two\nUser y\n", {{"a", "two", "y", key}}},
      {"equals form and bare keyword are skipped", "Host a\nHostName=x\nHostName\n", {}},
      {"file order, duplicates kept", "Host z\nHostName 1\nHost a\nHostName 2\nHost z\nHostName 3\n",
       {{"z", "1", "me", key}, {"a", "2", "me", key}, {"z", "3", "me", key}}},
      {"Match ends the host block and its lines apply to no host; Include is ignored",
       "Host arch\nHostName 127.0.0.1\nmatch host github.com\nHostName 203.0.113.99\nUser git\nPort 2222\n"
       "Host b\nInclude ~/.ssh/more\nHostName hb\n",
       {{"arch", "127.0.0.1", "me", key}, {"b", "hb", "me", key}}},
      {"ProxyJump and ProxyCommand, the last of either winning",
       "Host a\nHostName h\nProxyCommand ssh -W %h:%p gw\nproxyjump gw2\n"
       "Host b\nHostName h\nProxyJump gw\nPROXYCOMMAND nc  %h %p\n",
       {{"a", "h", "me", key, 0, "ProxyJump=gw2"}, {"b", "h", "me", key, 0, "ProxyCommand=nc  %h %p"}}},
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

  // Up to 1 MiB is read; a byte more makes the file unreadable.
  std::string big = "Host web\nHostName 10.0.0.5\n";
  big += "#" + std::string((1 << 20) - big.size() - 2, 'x') + "\n";
  home.write_file(".ssh/config", big);
  EXPECT_EQ(read_ssh_hosts().size(), 1u);
  home.write_file(".ssh/config", big + "\n");
  EXPECT_TRUE(read_ssh_hosts().empty());

  // Neither may hold the wizard: a FIFO nobody writes to, a link to an
  // endless device. Each is read in a child that must end within seconds.
  const auto ends_with_no_hosts = [](const char* what) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(read_ssh_hosts().empty() ? 0 : 1);
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) ::usleep(10000);
    if (::waitpid(pid, &status, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << what << ": still reading after 5 s";
      return;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << ": status " << status;
  };
  fs::remove(home / ".ssh/config");
  ASSERT_EQ(::mkfifo((home / ".ssh/config").c_str(), 0600), 0);
  ends_with_no_hosts("a FIFO");
  fs::remove(home / ".ssh/config");
  fs::create_symlink("/dev/zero", home / ".ssh/config");
  ends_with_no_hosts("a link to /dev/zero");

  fs::remove(home / ".ssh/config");
  fs::create_directory(home / ".ssh/config");
  EXPECT_TRUE(read_ssh_hosts().empty());  // a directory
}
