#include "wizard/commands.hpp"

#include <filesystem>
#include <system_error>
#include <utility>

#include "prompt/select.hpp"
#include "prompt/spinner.hpp"
#include "prompt/theme.hpp"
#include "wizard/environment.hpp"
#include "wizard/modes.hpp"

namespace fs = std::filesystem;

Result<void> clean_cache(const SetupContext& context) {
  ProgressBar bar = spinner();
  bar.start("Cleaning temporary cache folder\u2026");

  std::string final_message = "No cached files found. Local machine is already clean.";
  if (path_present(context.cache_root)) {
    // remove_all never follows a link: a link at the root goes, its target stays.
    std::error_code ec;
    fs::remove_all(context.cache_root, ec);
    if (ec) return fail_errno(ec.value());
    final_message = "Temporary folder " + context.cache_root_shown + "/ removed successfully.";
  }
  bar.finish_with_state(final_message, ThemeState::Submit);
  return theme::outro("Clean completed!");
}

namespace {

enum class Command { Setup, Clean };

}  // namespace

Result<void> run_command_menu(const SetupContext& context) {
  auto command =
      Select<Command>("Select a global command to continue:")
          .item(Command::Setup, "Select target Arch workstation", "Choose an SSH host and bootstrap Tervane")
          .item(Command::Clean, "Clear temp, cache...", "Delete local temporary configurations & wallpapers cache")
          .interact();
  if (!command) return fail(std::move(command).error());
  switch (*command) {
    case Command::Setup: return run_setup(context);
    case Command::Clean: return clean_cache(context);
  }
  std::unreachable();
}
