// pattern.hpp: regular expressions for the tests, behind one translation unit.
// Instantiating std::regex costs seconds of compile time in every file that
// does it; here it is done once.
#pragma once

#include <optional>
#include <string>

/// Whether the whole of `text` matches ECMAScript `pattern`.
bool full_match(const std::string& text, const std::string& pattern);
/// The first group of the first match of `pattern` in `text`, if any.
std::optional<std::string> first_group(const std::string& text, const std::string& pattern);
/// `text` with the first match of `pattern` replaced by `with`.
std::string replace_first(const std::string& text, const std::string& pattern, const std::string& with);
