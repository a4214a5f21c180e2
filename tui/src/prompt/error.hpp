// error.hpp: the error value every operation returns instead of throwing.
#pragma once

#include <expected>
#include <string>
#include <utility>
#include <vector>

/// What kind of failure an error is; callers test the kind, never the text.
enum class ErrorKind {
  Interrupted,    ///< the user cancelled a prompt (Escape) or a read was interrupted
  NotConnected,   ///< the prompt's output is not a terminal
  UnexpectedEof,  ///< input ended while a key was awaited
  InvalidInput,   ///< a caller misused an operation (an empty select list)
  System,         ///< an operating-system call failed; the text is the system's
  Other,          ///< everything else: the wizard's own messages
};

/// A message plus an ordered chain of causes, outermost first.
class Error {
 public:
  Error(ErrorKind kind, std::string message, std::vector<std::string> causes = {});

  /// An error of kind Other with the given message.
  static Error msg(std::string message);
  /// The system's text for `errno_value` followed by " (os error N)".
  static Error from_errno(int errno_value);
  /// The cancellation of a prompt: "operation interrupted".
  static Error interrupted();

  /// A new error whose message is `message` and whose first cause is this
  /// error's message, followed by this error's own causes.
  Error context(std::string message) const&;
  Error context(std::string message) &&;

  ErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const std::vector<std::string>& causes() const { return causes_; }

  bool operator==(const Error&) const = default;

 private:
  ErrorKind kind_;
  std::string message_;
  std::vector<std::string> causes_;
};

template <class T>
using Result = std::expected<T, Error>;

/// The one way to return an error from a function that returns Result<T>:
/// `return fail(Error...)`, `return fail("message")`, `return fail_errno(errno)`,
/// and to pass one up, `return fail(std::move(r).error())`.
inline std::unexpected<Error> fail(Error e) { return std::unexpected<Error>(std::move(e)); }
inline std::unexpected<Error> fail(std::string message) { return fail(Error::msg(std::move(message))); }
inline std::unexpected<Error> fail_errno(int errno_value) { return fail(Error::from_errno(errno_value)); }

/// The top-level report: "Error: {message}\n", then for errors with causes an
/// empty line, "Caused by:" and one line per cause (four spaces for a single
/// cause; "{index:>5}: " for two or more), continuation lines of a multi-line
/// cause indented to the same column.
std::string format_report(const Error& error);
