// repo_cache.hpp: the local clones of the configuration and wallpapers repositories.
#pragma once

#include <string>
#include <string_view>

#include "prompt/error.hpp"
#include "wizard/questions.hpp"
#include "wizard/setup_context.hpp"

inline constexpr std::string_view kDefaultConfigsUrl = "https://gitlab.com/tervane/tervane-dots.git";
inline constexpr std::string_view kDefaultWallpapersUrl = "https://gitlab.com/tervane/tervane-wallpapers.git";

/// Fills the clone directories, URLs and cache choice of `answers` and brings
/// the clones in the context's cache up to date as the user chooses.
Result<void> prepare_cache(SetupAnswers& answers, const SetupContext& context);

/// Makes `dest` a working clone of `url`: pull when it is a clone already,
/// else (or when the pull fails) clone afresh.
Result<void> clone_or_update_repo(std::string_view url, const std::string& dest);
