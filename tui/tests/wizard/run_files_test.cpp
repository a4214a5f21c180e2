// The exact bytes of the variables document and the inventory, and the
// temporary files' names, mode and removal.
#include "wizard/run_files.hpp"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"
#include "support/pattern.hpp"

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(VarsJson, CompactSortedMembersWithExactEscapesWithOrWithoutKey) {
  SetupAnswers a;
  a.host = {"arch box", "192.168.1.50", "installer", "~/.ssh/id_ed25519"};
  a.configs_dir = "/home/u/c\xff/configs";  // not UTF-8: written with U+FFFD
  a.wallpapers_dir = "/home/u/wallpapers";
  a.target_user = "maria";
  a.target_password = "Grüße/1";
  a.sudo_password = "q\"b\\t\tesc\x1b" "cr\r\x01\b\f\n\0\x1f\x7f/"s;
  const auto want = [](const std::string& key_member) {
    return R"({"ansible_become_password":"q\"b\\t\tesc\u001bcr\r\u0001\b\f\n\u0000\u001f)" "\x7f" R"(/",)"
           R"("ansible_host":"192.168.1.50",)" + key_member + R"("ansible_user":"installer",)"
           R"("default_password":"Grüße/1","default_user":"maria",)"
           R"("local_tervane_path":"/home/u/c�/configs","local_transfer_mode":true,)"
           R"("local_wallpapers_path":"/home/u/wallpapers","noninteractive":true})";
  };
  const std::string key = "/home/u/.ssh/id_ed25519";
  EXPECT_EQ(vars_json(a, &key), want(R"("ansible_ssh_private_key_file":"/home/u/.ssh/id_ed25519",)"));
  EXPECT_EQ(vars_json(a, nullptr), want(""));
}

TEST(Inventory, NamesTheOneHostWithOrWithoutKey) {
  const SshHost host{"arch box", "10.0.0.7", "root user", "~/.ssh/id_rsa"};
  const std::string key = "/home/u/.ssh/id_rsa";
  EXPECT_EQ(inventory_text(host, nullptr),
            "[workstation]\n"
            "'arch box' ansible_host=10.0.0.7 ansible_user='\"root user\"' "
            "ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n");
  EXPECT_EQ(inventory_text(host, &key),
            "[workstation]\n"
            "'arch box' ansible_host=10.0.0.7 ansible_user='\"root user\"' "
            "ansible_ssh_private_key_file=/home/u/.ssh/id_rsa "
            "ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n");
  // A host block's Port follows the user, so ssh reaches the server chosen.
  const SshHost vm{"vm", "127.0.0.1", "me", "~/k", 2222};
  EXPECT_EQ(inventory_text(vm, &key),
            "[workstation]\n"
            "vm ansible_host=127.0.0.1 ansible_user=me ansible_port=2222 "
            "ansible_ssh_private_key_file=/home/u/.ssh/id_rsa "
            "ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n");
}

TEST(TempFile, PrivateRandomlyNamedAndRemovedWithItsOwner) {
  TempDir tmp;
  ScopedEnv env("TMPDIR", tmp.path().string());
  std::string first_path, second_path;
  {
    auto first = TempFile::create("tervane-vars-", ".json");
    auto second = TempFile::create("tervane-vars-", ".json");
    ASSERT_TRUE(first && second);
    first_path = first->path();
    second_path = second->path();
    const std::string shape = tmp.path().string() + "/tervane-vars-[A-Za-z0-9]{6}\\.json";
    EXPECT_TRUE(full_match(first_path, shape)) << first_path;
    EXPECT_TRUE(full_match(second_path, shape)) << second_path;
    EXPECT_NE(first_path, second_path);

    struct stat st {};
    ASSERT_EQ(::stat(first_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_TRUE(first->write_all("{\"a\":true}"));
    ASSERT_TRUE(first->write_all("\n2"));
    EXPECT_EQ(read_file(first_path), "{\"a\":true}\n2");

    // A moved-from owner deletes nothing; the new owner deletes the file.
    TempFile moved = std::move(*second);
    { TempFile gone = std::move(*first); }
    EXPECT_FALSE(fs::exists(first_path));
    EXPECT_TRUE(fs::exists(second_path));
    fs::remove(second_path);  // removed by someone else: no reason to fail
  }
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(TempFile, MissingTmpdirFailsNamingTheAttemptedPath) {
  TempDir tmp;
  const std::string missing = (tmp / "no-such-dir").string();
  ScopedEnv env("TMPDIR", missing);
  auto file = TempFile::create("tervane-vars-", ".json");
  ASSERT_FALSE(file.has_value());
  const std::string shape = "No such file or directory \\(os error 2\\) at path \"" + missing +
                            "/tervane-vars-[A-Za-z0-9]{6}\\.json\"";
  EXPECT_TRUE(full_match(file.error().message(), shape)) << file.error().message();
  EXPECT_TRUE(file.error().causes().empty());
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(TempFile, RelativeOrEmptyTmpdirIsMadeAbsolute) {
  TempDir tmp;
  fs::create_directory(tmp / "sub");
  const fs::path old_cwd = fs::current_path();
  fs::current_path(tmp.path());
  for (const auto& [tmpdir, where] : {std::pair{"sub", "/sub"}, std::pair{"", ""}}) {
    ScopedEnv env("TMPDIR", tmpdir);
    auto file = TempFile::create("tervane-hosts-", ".ini");
    ASSERT_TRUE(file.has_value()) << file.error().message();
    EXPECT_TRUE(full_match(file->path(), tmp.path().string() + where + "/tervane-hosts-[A-Za-z0-9]{6}\\.ini"))
        << file->path();
    EXPECT_TRUE(fs::exists(file->path()));
  }
  fs::current_path(old_cwd);
}

TEST(RunFiles, ReleaseDeletesTheInventoryThenTheVariablesThenTheirDirectory) {
  TempDir tmp;
  ScopedEnv env("TMPDIR", tmp.path().string());
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(inotify_add_watch(watch, tmp.path().c_str(), IN_DELETE), 0);
  {
    auto vars = TempFile::create("v-", ".json");
    auto inventory = TempFile::create("i-", ".ini");
    ASSERT_TRUE(vars && inventory);
    RunFiles files{std::move(*PrivateDir::create("d-")), std::move(*vars), std::move(*inventory)};
  }
  alignas(inotify_event) char buf[4096];
  const ssize_t n = ::read(watch, buf, sizeof buf);
  std::string deleted;  // the two-letter prefixes, in order
  for (ssize_t off = 0; off < n;) {
    const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
    if (ev->len > 0) deleted += std::string(ev->name).substr(0, 2);
    off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
  }
  ::close(watch);
  EXPECT_EQ(deleted, "i-v-d-");
}
