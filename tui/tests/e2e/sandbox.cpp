#include "e2e/sandbox.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "support/child.hpp"

namespace fs = std::filesystem;

fs::path find_on_system_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir) / name;
    std::error_code ec;
    if (!dir.empty() && fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

Sandbox::Sandbox() : home(dir / "home"), tmp(dir / "tmp"), bin(dir / "bin"), work(dir / "work") {
  for (const auto& p : {home, tmp, bin, work}) fs::create_directories(p);
  dir.write_file(git_config(), "");
}

std::map<std::string, std::string> Sandbox::env() const {
  std::map<std::string, std::string> e = {
      {"HOME", home.string()},
      {"TMPDIR", tmp.string()},
      {"PATH", bin.string() + ":/usr/local/bin:/usr/bin:/bin"},
      {"LANG", "C.UTF-8"},
      {"TERM", "xterm-256color"},
      {"USER", "tester"},
      {"GIT_CONFIG_GLOBAL", git_config().string()},
      {"GIT_CONFIG_NOSYSTEM", "1"},
      {"GIT_TERMINAL_PROMPT", "0"},
  };
  for (const auto& [k, v] : changes_) e[k] = v;
  return e;
}

fs::path Sandbox::stub(const std::string& name, const std::string& body) {
  std::error_code ec;
  fs::remove(bin / name, ec);  // not written through a link
  return dir.write_file(bin / name, "#!/bin/sh\n" + body + (body.ends_with("\n") ? "" : "\n"), 0755);
}

namespace {

/// `text` as one shell word.
std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

fs::path Sandbox::fake(const std::string& name, const std::string& fake,
                       const std::map<std::string, std::string>& settings) {
  // exec keeps the process: the stand-in's parent is the program that started it.
  std::string line = "exec env";
  for (const auto& [k, v] : settings) line += " " + shell_quoted(k + "=" + v);
  line += " /bin/sh " + shell_quoted(TERVANE_SOURCE_DIR "/tests/e2e/fakes/" + fake) + " \"$@\"";
  return stub(name, line);
}

fs::path Sandbox::link_real(const std::string& name) {
  const fs::path real = find_on_system_path(name);
  if (real.empty()) {
    ADD_FAILURE() << name << " is not installed on this machine";
    return {};
  }
  std::error_code ec;
  fs::remove(bin / name, ec);
  fs::create_symlink(real, bin / name);
  return bin / name;
}

fs::path Sandbox::install_wizard(const fs::path& project_root) const {
  const fs::path target = project_root / "tui/build/e2e/bin/tervane-wizard";
  fs::create_directories(target.parent_path());
  fs::copy_file(TERVANE_WIZARD_BINARY, target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms(0755));
  return target;
}

fs::path Sandbox::project(const fs::path& root, std::initializer_list<const char*> playbooks) const {
  for (const char* playbook : playbooks) dir.write_file(root / playbook, "- hosts: workstation\n");
  return install_wizard(root);
}

std::vector<fs::path> Sandbox::run_files() const {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(tmp))  // the private directory and its files
    if (e.path().filename().string().starts_with("tervane-")) files.push_back(e.path());
  return files;
}

void Sandbox::cache_clones() const {
  for (const char* name : {"configs", "wallpapers"}) fs::create_directories(home / "temp/.tervane-bootstrap" / name / ".git");
}

LoopbackSshd::LoopbackSshd(const Sandbox& box) : box_(box), dir_((box.work / "sshd").string()) {
  const RunResult started = box.run({"bash", TERVANE_SOURCE_DIR "/tests/fixtures/sshd.sh", "start", dir_});
  why_ = started.output;
  if (started.status != 0 && started.status != 77) ADD_FAILURE() << "sshd.sh start: " << started.output;
  running_ = started.status == 0;
  std::istringstream lines(read_file(dir_ + "/env"));
  for (std::string line; std::getline(lines, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) env_[line.substr(0, eq)] = line.substr(eq + 1);
  for (const char* key : {"PORT", "KEY", "USER"})
    if (running_ && env_[key].empty()) ADD_FAILURE() << key << " missing in " << dir_ << "/env";
}

LoopbackSshd::~LoopbackSshd() {
  if (running_) box_.run({"bash", TERVANE_SOURCE_DIR "/tests/fixtures/sshd.sh", "stop", dir_});
}

std::string LoopbackSshd::operator[](const std::string& key) const {
  const auto it = env_.find(key);
  return it == env_.end() ? "" : it->second;
}

void LoopbackRun::SetUp() {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the loopback sshd logs in only its own user otherwise";
  if (find_on_system_path("ansible-playbook").empty()) GTEST_SKIP() << "ansible-playbook is not installed";
  server.emplace(box);
  if (!*server) GTEST_SKIP() << "no sshd on loopback here: " << server->why();
  box.link_real("git");
  box.link_real("ansible-playbook");
  box.set_env("ANSIBLE_LOCAL_TEMP", (box.work / "ansible-tmp").string());
}

void LoopbackRun::host_block(const std::string& alias, const std::string& more) {
  box.dir.write_file(box.home / ".ssh/config", "Host " + alias + "\n  HostName 127.0.0.1\n  User " + (*server)["USER"] +
                                                   "\n  IdentityFile " + (*server)["KEY"] + "\n" + more);
}

void LoopbackRun::ansible_cfg(const std::string& defaults) {
  box.dir.write_file(root / "ansible.cfg", "[defaults]\nhost_key_checking = False\n" + defaults +
                                               "[ssh_connection]\nssh_args = -o UserKnownHostsFile=" +
                                               (box.work / "known_hosts").string() + " -o ControlMaster=no\n");
}

RunResult Sandbox::run(const std::vector<std::string>& argv, const fs::path& cwd) const {
  RunResult result;
  std::string program = argv.at(0);
  if (program.find('/') == std::string::npos) program = find_on_system_path(program).string();
  if (program.empty()) {
    ADD_FAILURE() << argv[0] << " is not installed on this machine";
    return result;
  }
  std::vector<std::string> args = argv, env_strings;
  for (const auto& [k, v] : env()) env_strings.push_back(k + "=" + v);
  std::vector<char*> cargv, cenv;
  for (auto& a : args) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  for (auto& e : env_strings) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  const std::string dir_text = cwd.string();
  const ChildEnd end = run_child(
      [&] {
        dup2(open("/dev/null", O_RDONLY), 0);
        if (!dir_text.empty() && chdir(dir_text.c_str()) != 0) return 126;
        execve(program.c_str(), cargv.data(), cenv.data());
        return 127;
      },
      {STDOUT_FILENO, STDERR_FILENO});
  result.output = end.output;
  result.status = WIFEXITED(end.status) ? WEXITSTATUS(end.status) : 128 + WTERMSIG(end.status);
  return result;
}

fs::path Sandbox::bare_repo(const std::string& name, const std::map<std::string, std::string>& files) {
  const fs::path src = work / "repo-sources" / name;
  const fs::path bare = work / "repos" / (name + ".git");
  fs::create_directories(src);
  for (const auto& [file, text] : files) dir.write_file(src / file, text);
  const std::vector<std::vector<std::string>> steps = {
      {"git", "init", "-q", "-b", "main", src.string()},
      {"git", "-C", src.string(), "add", "-A"},
      {"git", "-C", src.string(), "-c", "user.name=Tervane Tester", "-c", "user.email=tester@example.invalid", "commit",
       "-q", "--allow-empty", "-m", "initial"},
      {"git", "clone", "-q", "--bare", src.string(), bare.string()},
  };
  for (const auto& step : steps) {
    const RunResult r = run(step);
    if (r.status != 0) {
      ADD_FAILURE() << "git " << step[1] << " failed (" << r.status << ")\n" << r.output;
      return {};
    }
  }
  return bare;
}
