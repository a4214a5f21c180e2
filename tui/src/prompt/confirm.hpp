// confirm.hpp: the yes/no question.
#pragma once

#include <string>

#include "prompt/interact.hpp"

class Confirm : public PromptInteraction {
 public:
  explicit Confirm(std::string prompt);
  Confirm& initial_value(bool value);
  Result<bool> interact(LiveArea& area = LiveArea::standard_error());

  std::string render(const ThemeState& state) override;
  ThemeState on(const Key& key) override;

 private:
  std::string prompt_;
  bool initial_ = false;
  bool input_ = false;
};
