// Tests of the temporary run files: the exact bytes of the variables document
// and the inventory, and the files' creation, mode and deletion.
#include "support/scoped_env.hpp"
#include "wizard/run_files.hpp"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

namespace {


// Changes the working directory for one scope.
class CwdOverride {
 public:
  explicit CwdOverride(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~CwdOverride() { fs::current_path(old_); }

 private:
  fs::path old_;
};

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

SetupAnswers sample_answers() {
  SetupAnswers a;
  a.host = {"arch box", "192.168.1.50", "installer", "~/.ssh/id_ed25519"};
  a.configs_dir = "/home/u/temp/.tervane-bootstrap/configs";
  a.wallpapers_dir = "/home/u/temp/.tervane-bootstrap/wallpapers";
  a.target_user = "maria";
  a.target_password = "Grüße/1";
  a.sudo_password = "q\"b\\t\tesc\x1b" "cr\r\x01";
  return a;
}

}  // namespace

TEST(VarsJson, WritesCompactSortedMembersWithExactEscapes) {
  const SetupAnswers a = sample_answers();
  const std::string key = "/home/u/.ssh/id_ed25519";

  EXPECT_EQ(vars_json(a, &key),
            R"({"ansible_become_password":"q\"b\\t\tesc\u001bcr\r\u0001",)"
            R"("ansible_host":"192.168.1.50",)"
            R"("ansible_ssh_private_key_file":"/home/u/.ssh/id_ed25519",)"
            R"("ansible_user":"installer",)"
            R"("default_password":"Grüße/1",)"
            R"("default_user":"maria",)"
            R"("local_tervane_path":"/home/u/temp/.tervane-bootstrap/configs",)"
            R"("local_transfer_mode":true,)"
            R"("local_wallpapers_path":"/home/u/temp/.tervane-bootstrap/wallpapers",)"
            R"("noninteractive":true})");

  // Without a key the member is left out: nine members, the rest unchanged.
  const std::string without = vars_json(a, nullptr);
  EXPECT_EQ(without.find("ansible_ssh_private_key_file"), std::string::npos);
  EXPECT_EQ(std::count(without.begin(), without.end(), ':'), 9);
  const std::string with = vars_json(a, &key);
  EXPECT_EQ(std::count(with.begin(), with.end(), ':'), 10);
  EXPECT_TRUE(without.starts_with(R"({"ansible_become_password":)"));
  EXPECT_NE(without.find(R"("ansible_host":"192.168.1.50","ansible_user":"installer",)"), std::string::npos);
}

TEST(VarsJson, EscapesEveryControlCharacterAndNothingElse) {
  SetupAnswers a;
  a.sudo_password = std::string("\b\f\n\x00\x1f\x7f/", 7);
  a.target_password = "é€😀";
  // A directory that is not valid UTF-8 is written with U+FFFD.
  a.configs_dir = "/tmp/bad\xff";
  const std::string json = vars_json(a, nullptr);
  EXPECT_NE(json.find(R"("ansible_become_password":"\b\f\n\u0000\u001f)" "\x7f" R"(/")"), std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("default_password":"é€😀")"), std::string::npos);
  EXPECT_NE(json.find(R"("local_tervane_path":"/tmp/bad�")"), std::string::npos);
  EXPECT_EQ(json.find(' '), std::string::npos);
  EXPECT_EQ(json.find('\n'), std::string::npos);
}

TEST(Inventory, NamesTheOneHostWithOrWithoutKey) {
  const SshHost host{"arch box", "10.0.0.7", "root user", "~/.ssh/id_rsa"};
  const std::string key = "/home/u/.ssh/id_rsa";
  EXPECT_EQ(inventory_text(host, nullptr),
            "[workstation]\n"
            "arch box ansible_host=10.0.0.7 ansible_user=root user "
            "ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n");
  EXPECT_EQ(inventory_text(host, &key),
            "[workstation]\n"
            "arch box ansible_host=10.0.0.7 ansible_user=root user "
            "ansible_ssh_private_key_file=/home/u/.ssh/id_rsa "
            "ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n");
}

TEST(TempFileCreate, MakesAPrivateRandomlyNamedFileThatIsRemovedWithItsOwner) {
  TempDir tmp;
  ScopedEnv env("TMPDIR", tmp.path().c_str());

  std::string first_path, second_path;
  {
    auto first = TempFile::create("tervane-vars-", ".json");
    auto second = TempFile::create("tervane-vars-", ".json");
    ASSERT_TRUE(first.has_value()) << first.error().message();
    ASSERT_TRUE(second.has_value()) << second.error().message();
    first_path = first->path();
    second_path = second->path();

    const std::regex shape(tmp.path().string() + "/tervane-vars-[A-Za-z0-9]{6}\\.json");
    EXPECT_TRUE(std::regex_match(first_path, shape)) << first_path;
    EXPECT_TRUE(std::regex_match(second_path, shape)) << second_path;
    EXPECT_NE(first_path, second_path);

    struct stat st {};
    ASSERT_EQ(::stat(first_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    ASSERT_TRUE(first->write_all("{\"a\":true}").has_value());
    ASSERT_TRUE(first->write_all("\n2").has_value());
    EXPECT_EQ(read_file(first_path), "{\"a\":true}\n2");

    // A moved-from owner deletes nothing; the new owner keeps the file.
    TempFile moved = std::move(*second);
    { TempFile gone = std::move(*first); }
    EXPECT_FALSE(fs::exists(first_path));
    EXPECT_TRUE(fs::exists(second_path));
    EXPECT_EQ(moved.path(), second_path);

    // A file someone else already removed is no reason to fail.
    fs::remove(second_path);
  }
  EXPECT_FALSE(fs::exists(second_path));
  EXPECT_TRUE(entries(tmp.path()).empty());
}

TEST(TempFileCreate, MissingDirectoryFailsNamingTheAttemptedPath) {
  TempDir tmp;
  const std::string missing = (tmp.path() / "no-such-dir").string();
  ScopedEnv env("TMPDIR", missing.c_str());

  auto file = TempFile::create("tervane-vars-", ".json");
  ASSERT_FALSE(file.has_value());
  const std::regex shape("No such file or directory \\(os error 2\\) at path \"" + missing +
                         "/tervane-vars-[A-Za-z0-9]{6}\\.json\"");
  EXPECT_TRUE(std::regex_match(file.error().message(), shape)) << file.error().message();
  EXPECT_TRUE(file.error().causes().empty());
  EXPECT_TRUE(entries(tmp.path()).empty());
}

TEST(TempFileCreate, RelativeOrEmptyTmpdirIsTakenFromTheWorkingDirectory) {
  TempDir tmp;
  fs::create_directory(tmp.path() / "sub");
  const std::string real = fs::canonical(tmp.path()).string();
  CwdOverride cwd(tmp.path());

  {
    ScopedEnv env("TMPDIR", "sub");
    auto file = TempFile::create("tervane-hosts-", ".ini");
    ASSERT_TRUE(file.has_value()) << file.error().message();
    EXPECT_TRUE(std::regex_match(file->path(), std::regex(real + "/sub/tervane-hosts-[A-Za-z0-9]{6}\\.ini")))
        << file->path();
    EXPECT_TRUE(fs::exists(file->path()));
  }
  {
    ScopedEnv env("TMPDIR", "");
    auto file = TempFile::create("tervane-hosts-", ".ini");
    ASSERT_TRUE(file.has_value()) << file.error().message();
    EXPECT_TRUE(std::regex_match(file->path(), std::regex(real + "/tervane-hosts-[A-Za-z0-9]{6}\\.ini")))
        << file->path();
  }
  {
    ScopedEnv env("TMPDIR", std::nullopt);
    auto file = TempFile::create("tervane-hosts-", ".ini");
    ASSERT_TRUE(file.has_value()) << file.error().message();
    EXPECT_TRUE(file->path().starts_with("/tmp/tervane-hosts-")) << file->path();
  }
  EXPECT_TRUE(entries(tmp.path() / "sub").empty());
}

TEST(RunFilesRelease, DeletesTheInventoryBeforeTheVariables) {
  TempDir tmp;
  ScopedEnv env("TMPDIR", tmp.path().c_str());
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, tmp.path().c_str(), IN_DELETE), 0);

  std::string vars_name, inventory_name;
  {
    auto vars = TempFile::create("tervane-vars-", ".json");
    auto inventory = TempFile::create("tervane-hosts-", ".ini");
    ASSERT_TRUE(vars && inventory);
    vars_name = fs::path(vars->path()).filename();
    inventory_name = fs::path(inventory->path()).filename();
    std::string vp = vars->path(), ip = inventory->path();
    RunFiles files{std::move(*vars), vp, std::move(*inventory), ip, "/"};
  }

  std::vector<std::string> deleted;
  alignas(inotify_event) char buf[4096];
  const ssize_t n = ::read(watch, buf, sizeof buf);
  for (ssize_t off = 0; off < n;) {
    const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
    if (ev->len > 0) deleted.emplace_back(ev->name);
    off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
  }
  ::close(watch);
  EXPECT_EQ(deleted, (std::vector<std::string>{inventory_name, vars_name}));
}
