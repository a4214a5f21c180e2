// modes.cpp: the end of the setup path: the execution-mode choice, the full
// bootstrap, and the phase menu that runs single playbooks until left.
#include "wizard/modes.hpp"

#include <string>
#include <utility>
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

enum class Mode { FullBootstrap, PhaseMenu };

// The last path component, as the "Deployment Running" note names it.
std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What every playbook run of this setup path shares.
struct Runs {
  const std::string& root;
  bool preview;
  const RunFiles& files;

  // The playbook `name` of the project, or the error that it is missing.
  Result<std::string> resolve(std::string_view name) const { return resolve_playbook(root, name); }

  // Shows the note before the playbook at `path` and runs it.
  Result<void> run(const std::string& path) const {
    const Result<void> announced =
        preview ? theme::note("Deployment Running", "Previewing " + file_name(path) +
                                                        " over SSH: nothing is changed.\nOutputs are colorized below...")
                : theme::note("Deployment Running",
                              "Executing " + file_name(path) + " over SSH. Outputs are colorized below...");
    if (!announced) return announced;
    return run_playbook(path, files.inventory_file.path(), files.vars_file.path(), root, preview);
  }
};

Result<void> run_full_bootstrap(const Runs& runs) {
  auto playbook = runs.resolve("bootstrap.yml");
  if (!playbook) return fail(std::move(playbook).error());
  if (auto r = runs.run(*playbook); !r) return r;
  if (runs.preview) return theme::outro("Preview finished: nothing on the target was changed.");
  return theme::outro(
      "\x1b[1m Tervane Hyprland installed successfully! Reboot and enjoy your beautiful desktop.\x1b[0m");
}

Result<void> run_phase_menu(const Runs& runs) {
  for (;;) {
    // Built afresh each pass so the cursor is back on the first row.
    auto phase =
        Select<std::string>("Select a standalone playbook phase to execute:").items(playbook_phases()).interact();
    if (!phase) return fail(std::move(phase).error());
    if (*phase == kExitValue) return theme::outro(kExitedOutro);

    // A playbook that cannot be found ends the path; a failed run does not.
    auto playbook = runs.resolve("playbooks/" + *phase);
    if (!playbook) return fail(std::move(playbook).error());
    auto ran = runs.run(*playbook);
    if (ran) {
      if (auto r = theme::note("Success", *phase + " completed successfully!"); !r) return r;
      continue;
    }
    if (auto r = theme::note("Error", *phase + " failed: " + ran.error().message()); !r) return r;
    auto keep = Confirm("Keep standalone menu open anyway?").initial_value(true).interact();
    if (!keep) return fail(std::move(keep).error());
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
      {"30-yay.yml", "30-yay: Yay AUR helper bootstrap", "Build base-devel tools and install the yay AUR helper"},
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

Result<void> run_execution_modes(const std::string& project_root, bool preview, const RunFiles& files) {
  auto mode =
      Select<Mode>("Choose execution mode:")
          .item(Mode::FullBootstrap, "Run full bootstrap (all tasks in order)", "Complete Tervane setup sequentially")
          .item(Mode::PhaseMenu, "Run specific playbook phases interactively",
                "Select individual .yml playbooks to run standalone")
          .interact();
  if (!mode) return fail(std::move(mode).error());
  const Runs runs{project_root, preview, files};
  switch (*mode) {
    case Mode::FullBootstrap: return run_full_bootstrap(runs);
    case Mode::PhaseMenu: return run_phase_menu(runs);
  }
  std::unreachable();
}

Result<void> run_setup(const SetupContext& context) {
  SetupAnswers answers;
  auto host = ask_target(read_ssh_hosts());
  if (!host) return fail(std::move(host).error());
  answers.host = std::move(*host);

  if (auto r = prepare_cache(answers, context); !r) return r;

  auto account = ask_account();
  if (!account) return fail(std::move(account).error());
  answers.target_user = std::move(account->target_user);
  answers.target_password = std::move(account->target_password);
  answers.sudo_password = std::move(account->sudo_password);

  // The playbooks are needed from here on.
  if (!context.project_root) return fail(context.project_root.error());
  auto files = prepare_run_files(answers);
  if (!files) return fail(std::move(files).error());
  // `files` lives until this function returns, whatever run_execution_modes
  // gives; its destruction deletes the inventory, then the variables file.
  return run_execution_modes(*context.project_root, context.preview, *files);
}
