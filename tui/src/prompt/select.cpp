#include "prompt/select.hpp"

std::string SelectList::render(const ThemeState& state) {
  std::string frame = theme::format_header(state, prompt_);
  for (std::size_t i = 0; i < rows_.size(); ++i)
    frame += theme::format_select_item(state, i == cursor_, rows_[i].label, rows_[i].hint);
  frame += theme::format_footer(state);
  return frame;
}

ThemeState SelectList::on(const Key& key) {
  using Kind = Key::Kind;
  // Letters match exactly: upper case is any other key.
  bool up = key.kind == Kind::ArrowUp || key.kind == Kind::ArrowLeft ||
            (key.kind == Kind::Char && (key.ch == U'k' || key.ch == U'h'));
  bool down = key.kind == Kind::ArrowDown || key.kind == Kind::ArrowRight ||
              (key.kind == Kind::Char && (key.ch == U'j' || key.ch == U'l'));
  if (up && cursor_ > 0) --cursor_;
  if (down && cursor_ + 1 < rows_.size()) ++cursor_;
  return key.kind == Kind::Enter ? ThemeState::Submit : ThemeState::Active;
}

Result<void> SelectList::run(LiveArea& area) {
  if (rows_.empty()) return fail(Error(ErrorKind::InvalidInput, "No items added to the list"));
  return interact(*this, area);
}

void SelectList::add(std::string label, std::string hint) {
  rows_.push_back(Row{std::move(label), std::move(hint)});
}
