#include "prompt/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

TEST(ErrorReport, LayoutFollowsTheNumberOfCauses) {
  EXPECT_EQ(format_report(Error::msg("git not found in PATH. Install git locally to clone repositories.")),
            "Error: git not found in PATH. Install git locally to clone repositories.\n");
  EXPECT_EQ(format_report(Error::interrupted()), "Error: operation interrupted\n");

  const Error clone = Error::msg("Failed to clone repository: file:///nowhere.git")
                          .context("Failed to pull Tervane Dots repository locally");
  EXPECT_EQ(format_report(clone),
            "Error: Failed to pull Tervane Dots repository locally\n"
            "\n"
            "Caused by:\n"
            "    Failed to clone repository: file:///nowhere.git\n");

  EXPECT_EQ(format_report(Error::msg("innermost").context("middle").context("outer")),
            "Error: outer\n\nCaused by:\n"
            "    0: middle\n"
            "    1: innermost\n");

  // Eleven causes: the index is right-aligned in five columns.
  Error deep = Error::msg("c10");
  for (int i = 9; i >= 0; --i) deep = std::move(deep).context("c" + std::to_string(i));
  const std::string report = format_report(std::move(deep).context("top"));
  EXPECT_NE(report.find("\n    9: c9\n   10: c10\n"), std::string::npos) << report;
}

TEST(ErrorReport, MultiLineMessagesAndCausesKeepTheirColumn) {
  EXPECT_EQ(format_report(Error::msg("Playbook not found: bootstrap.yml\nExpected at: /r/bootstrap.yml")),
            "Error: Playbook not found: bootstrap.yml\nExpected at: /r/bootstrap.yml\n");
  EXPECT_EQ(format_report(Error::msg("first line\nsecond line").context("head")),
            "Error: head\n\nCaused by:\n    first line\n    second line\n");
  EXPECT_EQ(format_report(Error::msg("inner").context("a\nb").context("head")),
            "Error: head\n\nCaused by:\n    0: a\n       b\n    1: inner\n");
}

TEST(ErrorValues, SystemTextsAndTheKindOfTheHead) {
  const Error denied = Error::from_errno(EACCES);
  EXPECT_EQ(denied.kind(), ErrorKind::System);
  EXPECT_EQ(denied.message(), "Permission denied (os error 13)");
  // Context never keeps the inner kind at the head: callers test the head's kind.
  EXPECT_EQ(Error::interrupted().context("outer").kind(), ErrorKind::Other);
}
