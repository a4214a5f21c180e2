// select.hpp: the single-choice list prompt, generic over its value type.
#pragma once

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "prompt/interact.hpp"

/// The part of a select list that does not depend on the value type: labels,
/// hints, the cursor, the keys and the frame.
class SelectList : public PromptInteraction {
 public:
  explicit SelectList(std::string prompt) : prompt_(std::move(prompt)) {}

  std::string render(const ThemeState& state) override;
  ThemeState on(const Key& key) override;

  std::size_t cursor() const { return cursor_; }

 protected:
  /// Runs the loop; the chosen index is cursor() on success. An empty list is
  /// an InvalidInput error "No items added to the list", before any output.
  Result<void> run(LiveArea& area);
  void add(std::string label, std::string hint);
  void set_cursor(std::size_t index) { cursor_ = index; }

 private:
  struct Row {
    std::string label, hint;
  };
  std::string prompt_;
  std::vector<Row> rows_;
  std::size_t cursor_ = 0;
};

/// One option of a select list.
template <class T>
struct RadioButton {
  T value;
  std::string label;
  std::string hint;
};

template <class T>
class Select : public SelectList {
 public:
  explicit Select(std::string prompt) : SelectList(std::move(prompt)) {}

  Select& item(T value, std::string label, std::string hint) {
    values_.push_back(std::move(value));
    add(std::move(label), std::move(hint));
    return *this;
  }
  Select& items(const std::vector<RadioButton<T>>& list) {
    for (const auto& b : list) item(b.value, b.label, b.hint);
    return *this;
  }
  Select& initial_value(T value) {
    initial_ = std::move(value);
    return *this;
  }

  Result<T> interact(LiveArea& area = LiveArea::standard_error()) {
    if (initial_) {
      for (std::size_t i = 0; i < values_.size(); ++i)
        if (values_[i] == *initial_) {
          set_cursor(i);
          break;
        }
    }
    if (auto r = run(area); !r) return fail(std::move(r).error());
    return values_[cursor()];
  }

 private:
  std::vector<T> values_;
  std::optional<T> initial_;
};
