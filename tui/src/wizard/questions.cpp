#include "wizard/questions.hpp"

#include "prompt/select.hpp"
#include "prompt/theme.hpp"
#include "prompt/unicode.hpp"

Validator required(std::string message) {
  return [message = std::move(message)](const std::string& text) -> std::optional<std::string> {
    if (unicode::trim(text).empty()) return message;
    return std::nullopt;
  };
}

Result<SshHost> ask_target(const std::vector<SshHost>& hosts) {
  if (hosts.empty()) {
    if (auto r = theme::note("No SSH Config Found",
                             "~/.ssh/config contains no valid hosts. Enter connection details manually.");
        !r)
      return fail(std::move(r).error());
    auto hostname = Input("Remote hostname or IP:").validate(required("Hostname is required")).interact();
    if (!hostname) return fail(std::move(hostname).error());
    auto user = Input("SSH user:").default_input("root").interact();
    if (!user) return fail(std::move(user).error());
    auto key = Input("SSH private key path:").default_input("~/.ssh/id_rsa").interact();
    if (!key) return fail(std::move(key).error());
    return SshHost{*hostname, *hostname, *user, *key};
  }

  std::vector<RadioButton<SshHost>> rows;
  rows.reserve(hosts.size());
  for (const auto& h : hosts) rows.push_back({h, h.name, h.user + "@" + h.hostname});
  return Select<SshHost>("Select target Arch workstation from SSH Config:").items(rows).interact();
}

Result<AccountAnswers> ask_account() {
  AccountAnswers answers;
  auto user = Input("Target username to create/setup on Arch:")
                  .default_input("dovik")
                  .validate(required("Username cannot be empty"))
                  .interact();
  if (!user) return fail(std::move(user).error());
  answers.target_user = std::move(*user);

  // Shown in clear text on purpose: the user may want to check what was typed.
  auto password =
      Input("Target user password:").default_input("583920").validate(required("Password cannot be empty")).interact();
  if (!password) return fail(std::move(password).error());
  answers.target_password = std::move(*password);

  auto sudo = Password("Remote administrator sudo password (to become root):")
                  .validate(required("Sudo password is required"))
                  .interact();
  if (!sudo) return fail(std::move(sudo).error());
  answers.sudo_password = std::move(*sudo);
  return answers;
}
