// input.hpp: the text prompt (shown as typed) and the password prompt (masked).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "prompt/cursor.hpp"
#include "prompt/interact.hpp"

/// A validation rule: nothing when the text is accepted, else the message.
using Validator = std::function<std::optional<std::string>(const std::string&)>;

/// What both text prompts hold: the question, the typed text and its rule.
template <class Self>
class TextPrompt : public PromptInteraction {
 public:
  Self& validate(Validator rule) {
    validate_ = std::move(rule);
    return static_cast<Self&>(*this);
  }
  /// The typed text once submitted, or the error that ended the prompt.
  Result<std::string> interact(LiveArea& area = LiveArea::standard_error()) {
    if (auto r = ::interact(*this, area); !r) return fail(std::move(r).error());
    return input_.text();
  }

 protected:
  explicit TextPrompt(std::string prompt) : prompt_(std::move(prompt)) {}
  std::string prompt_;
  StringCursor input_;
  Validator validate_;
};

class Input : public TextPrompt<Input> {
 public:
  explicit Input(std::string prompt);
  Input& default_input(std::string text);

  std::string render(const ThemeState& state) override;
  ThemeState on(const Key& key) override;
  Result<void> edit(const Key& key, const TermIo& term) override;

 private:
  StringCursor placeholder_;
  std::optional<std::string> default_;
};

class Password : public TextPrompt<Password> {
 public:
  explicit Password(std::string prompt);

  std::string render(const ThemeState& state) override;
  ThemeState on(const Key& key) override;
  Result<void> edit(const Key& key, const TermIo& term) override;

 private:
  char32_t mask_;
};
