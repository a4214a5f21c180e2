#include "support/scripted_term.hpp"

namespace {

Error end_of_input() { return Error(ErrorKind::UnexpectedEof, "Reached end of file"); }

}  // namespace

Result<std::optional<std::uint8_t>> ScriptedSource::next(bool wait) {
  if (ready() || (wait && advance())) return static_cast<std::uint8_t>(chunks_[chunk_][pos_++]);
  if (wait) return fail(end_of_input());
  return std::optional<std::uint8_t>{};
}

Result<std::string> ScriptedSource::read_some(std::size_t count) {
  if (!ready() && !advance()) return fail(end_of_input());
  std::string out = chunks_[chunk_].substr(pos_, count);
  pos_ += out.size();
  return out;
}

std::string ScriptedSource::unread() const {
  std::string rest;
  for (std::size_t i = chunk_; i < chunks_.size(); ++i) rest += chunks_[i].substr(i == chunk_ ? pos_ : 0);
  return rest;
}

bool ScriptedSource::advance() {
  while (chunk_ + 1 < chunks_.size()) {
    ++chunk_;
    pos_ = 0;
    if (ready()) return true;
  }
  return false;
}

Result<void> ScriptedTerm::write_str(std::string_view text) const {
  std::lock_guard lock(out_mu_);
  out_ += text;
  return {};
}

std::string ScriptedTerm::output() const {
  std::lock_guard lock(out_mu_);
  return out_;
}

Result<Key> ScriptedTerm::read_key() const {
  auto key = decode_key(keys_);
  if (key && key->kind == Key::Kind::CtrlC) return fail(Error(ErrorKind::Interrupted, "read interrupted"));
  return key;
}

// Blocks, like the terminal's read, until `count` bytes have been typed.
Result<std::string> ScriptedTerm::read_bytes(std::size_t count) const {
  std::string bytes;
  while (bytes.size() < count) {
    auto more = keys_.read_some(count - bytes.size());
    if (!more) return fail(std::move(more).error());
    bytes += *more;
  }
  return bytes;
}

Result<void> ScriptedTerm::release_input() const {
  held_ = false;
  return {};
}

std::optional<TermSize> ScriptedTerm::size() const {
  if (cols_ == 0) return std::nullopt;
  return TermSize{24, cols_};
}
