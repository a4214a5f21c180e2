// questions.hpp: the target and account questions, and the answers record.
#pragma once

#include <string>
#include <vector>

#include "prompt/error.hpp"
#include "prompt/input.hpp"
#include "wizard/ssh_hosts.hpp"

/// What to do with repositories already cloned in the cache.
enum class CacheChoice {
  UseAsIs,  ///< use the clones without pulling
  Sync,     ///< use the clones and pull updates
  Fresh,    ///< ask for the URLs and clone again
};

/// Everything the setup questions gather, kept exactly as typed.
struct SetupAnswers {
  SshHost host;
  std::string configs_dir;
  std::string wallpapers_dir;
  std::string configs_url;
  std::string wallpapers_url;
  CacheChoice cache_choice = CacheChoice::Fresh;
  std::string target_user;
  std::string target_password;
  std::string sudo_password;
};

/// The host chosen from `hosts`, or typed in after a note when there is none.
Result<SshHost> ask_target(const std::vector<SshHost>& hosts);

/// A rule that refuses answers made of white space only with `message`; the
/// answer itself is kept as typed.
Validator required(std::string message);

struct AccountAnswers {
  std::string target_user, target_password, sudo_password;
};
Result<AccountAnswers> ask_account();
