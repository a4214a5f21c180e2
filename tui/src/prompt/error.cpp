#include "prompt/error.hpp"

#include <cstring>
#include <string_view>

Error::Error(ErrorKind kind, std::string message, std::vector<std::string> causes)
    : kind_(kind), message_(std::move(message)), causes_(std::move(causes)) {}

Error Error::msg(std::string message) { return Error(ErrorKind::Other, std::move(message)); }

Error Error::from_errno(int errno_value) {
  // strerror_r in its GNU form may return a static string instead of filling buf.
  char buf[256];
  const char* text = strerror_r(errno_value, buf, sizeof buf);
  return Error(ErrorKind::System, std::string(text) + " (os error " + std::to_string(errno_value) + ")");
}

Error Error::interrupted() { return Error(ErrorKind::Interrupted, "operation interrupted"); }

Error Error::context(std::string message) const& { return Error(*this).context(std::move(message)); }

Error Error::context(std::string message) && {
  std::vector<std::string> causes;
  causes.reserve(causes_.size() + 1);
  causes.push_back(std::move(message_));
  for (auto& c : causes_) causes.push_back(std::move(c));
  return Error(ErrorKind::Other, std::move(message), std::move(causes));
}

namespace {

// Appends `text`, putting `indent` after every line feed inside it.
void append_indented(std::string& out, std::string_view text, std::string_view indent) {
  for (char c : text) {
    out += c;
    if (c == '\n') out += indent;
  }
}

}  // namespace

std::string format_report(const Error& error) {
  std::string out = "Error: " + error.message();
  const auto& causes = error.causes();
  if (!causes.empty()) {
    out += "\n\nCaused by:";
    if (causes.size() == 1) {
      out += "\n    ";
      append_indented(out, causes[0], "    ");
    } else {
      for (std::size_t i = 0; i < causes.size(); ++i) {
        std::string index = std::to_string(i);
        out += '\n';
        out.append(index.size() < 5 ? 5 - index.size() : 0, ' ');
        out += index + ": ";
        append_indented(out, causes[i], "       ");
      }
    }
  }
  out += '\n';
  return out;
}
