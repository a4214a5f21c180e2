// input.hpp: the text prompt (shown as typed) and the password prompt (masked).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "prompt/cursor.hpp"
#include "prompt/interact.hpp"

/// A validation rule: nothing when the text is accepted, else the message.
using Validator = std::function<std::optional<std::string>(const std::string&)>;

class Input : public PromptInteraction {
 public:
  explicit Input(std::string prompt);
  Input& default_input(std::string text);
  Input& validate(Validator rule);
  Result<std::string> interact(const TermIo& term = Term::stderr_term());

  std::string render(const ThemeState& state) override;
  ThemeState on(const Key& key) override;
  Result<void> edit(const Key& key, const TermIo& term) override;

 private:
  std::string prompt_;
  StringCursor input_;
  StringCursor placeholder_;
  std::optional<std::string> default_;
  Validator validate_;
};

class Password : public PromptInteraction {
 public:
  explicit Password(std::string prompt);
  Password& validate(Validator rule);
  Result<std::string> interact(const TermIo& term = Term::stderr_term());

  std::string render(const ThemeState& state) override;
  ThemeState on(const Key& key) override;
  Result<void> edit(const Key& key, const TermIo& term) override;

 private:
  std::string prompt_;
  StringCursor input_;
  Validator validate_;
  char32_t mask_;
};
