// run_log.cpp: the run log's path and the checks on its folder. Another user
// must not be able to point the log elsewhere (a link planted in a shared
// XDG_STATE_HOME would have Ansible append to whatever it names).
#include "wizard/run_log.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "wizard/environment.hpp"

namespace {

// XDG_STATE_HOME when it is an absolute path; a relative one is ignored, as
// the XDG base directory rules say.
std::optional<std::string> xdg_state_home() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state == nullptr || state[0] != '/') return std::nullopt;
  return std::string(state);
}

// The user's own choice of log: ANSIBLE_LOG_PATH set and not empty.
const char* chosen_log() {
  const char* chosen = std::getenv("ANSIBLE_LOG_PATH");
  return chosen != nullptr && *chosen != '\0' ? chosen : nullptr;
}

// A directory itself (not a link to one), owned by this user, that neither
// group nor others may write to: nobody else can put a link into it.
bool private_folder(const std::string& dir) {
  struct stat st {};
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::optional<std::string> run_log_path() {
  if (const char* chosen = chosen_log()) return chosen;
  if (auto state = xdg_state_home()) return *state + "/tervane/ansible.log";
  if (auto home = home_dir()) return *home + "/.local/state/tervane/ansible.log";
  return std::nullopt;
}

RunLog prepare_run_log() {
  const RunLog no_log{{{"ANSIBLE_LOG_PATH", "/dev/null"}}, {}};
  if (chosen_log() != nullptr) return {};
  // An empty ANSIBLE_LOG_PATH, passed on as it is, would name the working
  // directory as the log file and fail every run.
  const bool empty_set = std::getenv("ANSIBLE_LOG_PATH") != nullptr;
  const auto log = run_log_path();
  if (!log) return empty_set ? no_log : RunLog{};
  // Ansible writes no log into a missing folder.
  const std::string dir = log->substr(0, log->rfind('/'));
  for (std::size_t at = 1; at != std::string::npos;) {
    at = dir.find('/', at + 1);
    (void)::mkdir(dir.substr(0, at).c_str(), 0700);
  }
  if (!private_folder(dir)) return {no_log.env, dir};
  // ansible.cfg names the default path; anything else is passed on.
  if (!xdg_state_home() && !empty_set) return {};
  return {{{"ANSIBLE_LOG_PATH", *log}}, {}};
}
