// questions.hpp: the target and account questions, and the answers record.
#pragma once

#include <string>
#include <vector>

#include "prompt/error.hpp"
#include "wizard/ssh_hosts.hpp"

/// Everything the setup questions gather, kept exactly as typed.
struct SetupAnswers {
  SshHost host;
  std::string configs_dir;
  std::string wallpapers_dir;
  std::string configs_url;
  std::string wallpapers_url;
  std::string cache_choice;  ///< "yes", "sync" or "no"
  std::string target_user;
  std::string target_password;
  std::string sudo_password;
};

/// The host chosen from `hosts`, or typed in after a note when there is none.
Result<SshHost> ask_target(const std::vector<SshHost>& hosts);

struct AccountAnswers {
  std::string target_user, target_password, sudo_password;
};
Result<AccountAnswers> ask_account();
