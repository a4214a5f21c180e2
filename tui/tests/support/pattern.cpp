#include "support/pattern.hpp"

#include <regex>

bool full_match(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

std::optional<std::string> first_group(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern)) || m.size() < 2) return std::nullopt;
  return m[1].str();
}

std::string replace_first(const std::string& text, const std::string& pattern, const std::string& with) {
  return std::regex_replace(text, std::regex(pattern), with, std::regex_constants::format_first_only);
}
