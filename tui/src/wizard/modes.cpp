// modes.cpp: the end of the setup path: the execution-mode choice, the full
// bootstrap, and the phase menu that runs single playbooks until left.
#include "wizard/modes.hpp"

#include <string>
#include <vector>

#include "prompt/confirm.hpp"
#include "prompt/select.hpp"
#include "prompt/theme.hpp"
#include "wizard/playbook_path.hpp"
#include "wizard/playbook_runner.hpp"
#include "wizard/questions.hpp"
#include "wizard/repo_cache.hpp"
#include "wizard/ssh_hosts.hpp"

namespace {

constexpr const char* kExitValue = "exit";
constexpr const char* kExitedOutro = "Exited standalone wizard!";

const std::vector<RadioButton<std::string>>& execution_modes() {
  static const std::vector<RadioButton<std::string>> modes = {
      {"all", "Run full bootstrap (all tasks in order)", "Complete Tervane setup sequentially"},
      {"single", "Run specific playbook phases interactively",
       "Select individual .yml playbooks to run standalone"},
  };
  return modes;
}

// The last path component, as the "Deployment Running" note names it.
std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Resolves `name`, announces the run and runs it. A missing playbook is
// returned as Err in the outer layer so the caller can end the path on it,
// while a failed run comes back as the inner result.
Result<Result<void>> announce_and_run(const std::string& name, const RunFiles& files) {
  auto playbook = resolve_playbook(name);
  if (!playbook) return std::unexpected(std::move(playbook).error());
  if (auto r = theme::note("Deployment Running", "Executing " + file_name(*playbook) +
                                                     " over SSH. Outputs are colorized below...");
      !r)
    return std::unexpected(std::move(r).error());
  return run_playbook(*playbook, files.inventory_path, files.vars_path, files.project_root);
}

Result<void> run_full_bootstrap(const RunFiles& files) {
  auto run = announce_and_run("bootstrap.yml", files);
  if (!run) return std::unexpected(std::move(run).error());
  if (!*run) return std::unexpected(std::move(*run).error());
  return theme::outro(
      "\x1b[1m Tervane Hyprland installed successfully! Reboot and enjoy your beautiful desktop.\x1b[0m");
}

Result<void> run_phase_menu(const RunFiles& files) {
  for (;;) {
    // Built afresh each pass so the cursor is back on the first row.
    auto phase = Select<std::string>("Select a standalone playbook phase to execute:")
                     .items(playbook_phases())
                     .interact();
    if (!phase) return std::unexpected(std::move(phase).error());
    if (*phase == kExitValue) return theme::outro(kExitedOutro);

    auto run = announce_and_run("playbooks/" + *phase, files);
    if (!run) return std::unexpected(std::move(run).error());
    if (*run) {
      if (auto r = theme::note("Success", *phase + " completed successfully!"); !r) return r;
      continue;
    }
    if (auto r = theme::note("Error", *phase + " failed: " + run->error().message()); !r) return r;
    auto keep = Confirm("Keep standalone menu open anyway?").initial_value(true).interact();
    if (!keep) return std::unexpected(std::move(keep).error());
    if (!*keep) return theme::outro(kExitedOutro);
  }
}

}  // namespace

const std::vector<RadioButton<std::string>>& playbook_phases() {
  static const std::vector<RadioButton<std::string>> phases = {
      {"00-preflight.yml", "00-preflight: Preflight checks & gum helper",
       "Verify facts, check specs, and ensure gum is installed"},
      {"05-openssh.yml", "05-openssh: OpenSSH Daemon config",
       "Ensure sshd is installed, enabled, and running securely"},
      {"10-user.yml", "10-user: Target user creation & wheel setup",
       "Create your main username, reset password, and update sudoers"},
      {"20-network.yml", "20-network: Wi-Fi scanning & setup",
       "Scan for active networks and configure NetworkManager profiles"},
      {"30-yay.yml", "30-yay: Yay AUR helper bootstrap",
       "Build base-devel tools and install the yay AUR helper"},
      {"40-base-packages.yml", "40-base-packages: Core CLI utilities & fonts",
       "Deploy standard utilities (fish, neovim, git, starship) and system fonts"},
      {"50-ssh.yml", "50-ssh: Remote SSH identity configuration",
       "Generate tokenless SSH keys and authorize host signatures"},
      {"60-tervane.yml", "60-tervane: Tervane dotfiles & installer",
       "Transfer cached configuration structures and run install.fish"},
      {"70-desktop-apps.yml", "70-desktop-apps: Hyprland, SDDM, bluetooth & wallpapers",
       "Install target desktop apps, configure bluetooth, and copy wallpapers"},
      {"80-finalize.yml", "80-finalize: Post-install finalized instructions",
       "Output finalizing walkthrough guide and handle sddm/reboot choices"},
      {kExitValue, "Exit Wizard", "Quit the Tervane setup wizard"},
  };
  return phases;
}

Result<void> run_execution_modes(const RunFiles& files) {
  auto mode = Select<std::string>("Choose execution mode:").items(execution_modes()).interact();
  if (!mode) return std::unexpected(std::move(mode).error());
  if (*mode == "all") return run_full_bootstrap(files);
  return run_phase_menu(files);
}

Result<void> run_setup(const std::string& cache_root) {
  SetupAnswers answers;
  auto host = ask_target(read_ssh_hosts());
  if (!host) return std::unexpected(std::move(host).error());
  answers.host = std::move(*host);

  if (auto r = prepare_cache(answers, cache_root); !r) return r;

  auto account = ask_account();
  if (!account) return std::unexpected(std::move(account).error());
  answers.target_user = std::move(account->target_user);
  answers.target_password = std::move(account->target_password);
  answers.sudo_password = std::move(account->sudo_password);

  auto files = prepare_run_files(answers);
  if (!files) return std::unexpected(std::move(files).error());
  // `files` lives until this function returns, whatever run_execution_modes
  // gives; its destruction deletes the inventory, then the variables file.
  return run_execution_modes(*files);
}
