// setup_context.hpp: what the wizard finds once at start and hands down to
// every part that needs it.
#pragma once

#include <string>
#include <string_view>

#include "prompt/error.hpp"

/// The repository cache as the user is told of it.
inline constexpr std::string_view kCacheRootShown = "~/temp/.tervane-bootstrap";

struct SetupContext {
  /// The project whose playbooks run: the executable's fifth parent. An
  /// error is reported where the first playbook run is prepared.
  Result<std::string> project_root;
  /// The repository cache, kCacheRootShown with the home directory expanded.
  std::string cache_root;
  /// The same as the messages name it.
  std::string cache_root_shown;
  /// --check: every playbook runs with --check --diff, so nothing on the
  /// target changes, and the notes say so.
  bool preview = false;

  /// The context of this process.
  static SetupContext find(bool preview);
};
