#include "wizard/repo_cache.hpp"

#include <filesystem>
#include <system_error>
#include <utility>

#include "prompt/input.hpp"
#include "prompt/select.hpp"
#include "prompt/spinner.hpp"
#include "prompt/theme.hpp"
#include "prompt/unicode.hpp"
#include "wizard/environment.hpp"
#include "wizard/process.hpp"

namespace fs = std::filesystem;

namespace {

Result<void> remove_tree(const fs::path& p) {
  std::error_code ec;
  fs::remove_all(p, ec);
  if (ec) return fail_errno(ec.value());
  return {};
}

// git with its output discarded and the terminal's input left to it (it may
// ask for credentials).
Result<ExitStatus> run_git(std::vector<std::string> args, std::optional<std::string> cwd) {
  SpawnOptions options;
  options.argv = std::move(args);
  options.argv.insert(options.argv.begin(), "git");
  options.cwd = std::move(cwd);
  options.out = Stdio::Null;
  options.err = Stdio::Null;
  return run_to_end(options);
}

Result<std::string> ask_url(const std::string& prompt, std::string_view fallback) {
  return Input(prompt).default_input(std::string(fallback)).validate(required("Repository URL is required")).interact();
}

Result<void> synchronise(const SetupAnswers& answers, const SetupContext& context) {
  // On an error the spinner is dropped while it still runs, which erases its line.
  ProgressBar bar = spinner();
  bar.start("Syncing repositories to local temporary cache (" + context.cache_root_shown + "/)\u2026");
  if (auto r = clone_or_update_repo(answers.configs_url, answers.configs_dir); !r)
    return fail(std::move(r).error().context("Failed to pull Tervane Dots repository locally"));
  if (auto r = clone_or_update_repo(answers.wallpapers_url, answers.wallpapers_dir); !r)
    return fail(std::move(r).error().context("Failed to pull Tervane Wallpapers repository locally"));
  bar.finish_with_state("Repositories synced successfully in temporary folder.", ThemeState::Submit);
  return {};
}

// Asks for the URLs, removes the old clones and clones again.
Result<void> clone_afresh(SetupAnswers& answers, const SetupContext& context) {
  auto configs = ask_url("Tervane Dots Configs Git URL:", kDefaultConfigsUrl);
  if (!configs) return fail(std::move(configs).error());
  answers.configs_url = std::move(*configs);
  auto wallpapers = ask_url("Tervane Wallpapers Git URL:", kDefaultWallpapersUrl);
  if (!wallpapers) return fail(std::move(wallpapers).error());
  answers.wallpapers_url = std::move(*wallpapers);

  for (const auto& dir : {answers.configs_dir, answers.wallpapers_dir})
    if (path_present(dir))
      if (auto r = remove_tree(dir); !r) return r;
  return synchronise(answers, context);
}

}  // namespace

Result<void> prepare_cache(SetupAnswers& answers, const SetupContext& context) {
  answers.configs_dir = (fs::path(context.cache_root) / "configs").native();
  answers.wallpapers_dir = (fs::path(context.cache_root) / "wallpapers").native();
  answers.configs_url = std::string(kDefaultConfigsUrl);
  answers.wallpapers_url = std::string(kDefaultWallpapersUrl);
  answers.cache_choice = CacheChoice::Fresh;

  if (path_present(fs::path(answers.configs_dir) / ".git") && path_present(fs::path(answers.wallpapers_dir) / ".git")) {
    auto choice = Select<CacheChoice>("Cached repositories detected locally:")
                      .item(CacheChoice::UseAsIs, "Yes (Use local cache directly - fastest)",
                            "Do not pull updates, use existing folders as-is")
                      .item(CacheChoice::Sync, "Yes & Sync (Use cache and pull updates)",
                            "Fetch latest changes from GitLab remote")
                      .item(CacheChoice::Fresh, "No (Re-clone fresh copies / Edit URLs)",
                            "Delete existing cache and redownload everything")
                      .interact();
    if (!choice) return fail(std::move(choice).error());
    answers.cache_choice = *choice;
  }

  switch (answers.cache_choice) {
    case CacheChoice::UseAsIs:
      return theme::note("Cache Active", "Skipped remote repository syncing. Using local cached directories as-is.");
    case CacheChoice::Sync: return synchronise(answers, context);
    case CacheChoice::Fresh: return clone_afresh(answers, context);
  }
  std::unreachable();
}

Result<void> clone_or_update_repo(std::string_view url, const std::string& dest) {
  const fs::path path(dest);
  // Only the empty path and a root have no parent (a bare name's parent is
  // the working directory). Checked before anything is removed, so that a
  // root is never emptied.
  if (dest.empty() || !path.has_relative_path()) return fail("No parent directory");
  if (path_present(path / ".git")) {
    auto pulled = run_git({"pull"}, dest);
    if (!pulled) return fail(std::move(pulled).error());
    if (pulled->success()) return {};
    // A clone that cannot be updated is thrown away and made again; if it
    // cannot be removed, the clone below says so.
    std::error_code ignored;
    fs::remove_all(path, ignored);
  } else if (path_present(path)) {
    if (auto r = remove_tree(path); !r) return r;
  }

  const fs::path parent = path.parent_path();
  if (!parent.empty()) {
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) return fail_errno(ec.value());
  }

  auto cloned = run_git({"clone", std::string(url), unicode::lossy(dest)}, std::nullopt);
  if (!cloned) return fail(std::move(cloned).error());
  if (!cloned->success()) return fail("Failed to clone repository: " + std::string(url));
  return {};
}
