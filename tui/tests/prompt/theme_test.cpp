// The theme's lines in colour and with Unicode symbols, and the note box. The
// frames of the prompts' states are checked through the prompts themselves.
#include "prompt/theme.hpp"

#include <gtest/gtest.h>

#include "support/escapes.hpp"

namespace {

// The progress lines' success form and continuation lines are checked through the spinner.
TEST(ThemeMessages, HeaderIntroOutroAndProgressLines) {
  {
    DecisionOverride on(true, true);
    EXPECT_EQ(theme::format_intro("\x1b[1m Title \x1b[0m"),
              GREY "┌" RST "  \x1b[1m Title \x1b[0m\n" GREY "│" RST "\n");
    EXPECT_EQ(theme::format_outro("Clean completed!"), GREY "└" RST "  Clean completed!\n");
    EXPECT_EQ(theme::format_progress_with_state("Failed", ThemeState::Cancel),
              RED "■" RST "  Failed\n" GREY "│" RST);
  }
  DecisionOverride off(false, false);
  EXPECT_EQ(theme::format_header(ThemeState::Active, ""), "");
  EXPECT_EQ(theme::format_header(ThemeState::Active, "a\r\nb\n"), "*  a\n|  b\n");
  EXPECT_EQ(theme::format_header(ThemeState::Active, "a\n\nb"), "*  a\n|  \n|  b\n");
  EXPECT_EQ(theme::format_intro("T"), "T  T\n|\n");
  EXPECT_EQ(theme::format_outro("Bye"), "—  Bye\n");
  EXPECT_EQ(theme::format_progress_message("one\r\ntwo\n"), "one\n—  two");
  EXPECT_EQ(theme::format_progress_message(""), "");
}

TEST(ThemeNote, BoxFollowsItsWidestLine) {
  DecisionOverride off(false, false);
  EXPECT_EQ(theme::format_note("Next steps", "Run it"),
            "o  Next steps --+\n"
            "|               |\n"
            "|  Run it       |\n"
            "+---------------+\n"
            "|\n");
  EXPECT_EQ(theme::format_note("T", ""),  // two rows, both empty
            "o  T --+\n"
            "|      |\n"
            "|      |\n"
            "+------+\n"
            "|\n");
  EXPECT_EQ(theme::format_note("T", "日本語\nab"),  // measured in columns, not bytes
            "o  T -------+\n"
            "|           |\n"
            "|  日本語   |\n"
            "|  ab       |\n"
            "+-----------+\n"
            "|\n");

  DecisionOverride on(true, true);
  EXPECT_EQ(theme::format_note("T", "ab"),
            GREEN "◇" RST "  T " GREY "───" RST GREY "╮" RST "\n"
            GREY "│" RST "  " DIM RST "     " GREY "│" RST "\n"
            GREY "│" RST "  " DIM "ab" RST "   " GREY "│" RST "\n"
            GREY "├───────╯\n" GREY "│" RST "\n" RST);
}

TEST(ThemeFields, InputAndPlaceholderPerState) {
  StringCursor text("abc");
  text.move_right();  // on "b"
  StringCursor at_end("ab");
  at_end.move_end();
  StringCursor placeholder("D (default)");
  DecisionOverride on(true, true);

  EXPECT_EQ(theme::format_input(ThemeState::Active, text), CYAN "│" RST "  a" REV "b" RST "c\n");
  EXPECT_EQ(theme::format_input(ThemeState::error("no"), text), YELLOW "│" RST "  a" REV "b" RST "c\n");
  EXPECT_EQ(theme::format_input(ThemeState::Submit, text), GREY "│" RST "  " DIM "abc" RST "\n");
  EXPECT_EQ(theme::format_input(ThemeState::Cancel, text), RED "│" RST "  " DIM STRIKE "abc" RST "\n");
  EXPECT_EQ(theme::format_input(ThemeState::Active, at_end), CYAN "│" RST "  ab" REV " " RST "\n");
  EXPECT_EQ(theme::format_placeholder(ThemeState::Active, placeholder),
            CYAN "│" RST "  " DIM DIM RST REV "D" RST DIM " (default)" RST RST "\n");
  EXPECT_EQ(theme::format_placeholder(ThemeState::Cancel, placeholder), "");
}

TEST(ThemeChoices, ConfirmAndSelectLinesInColour) {
  DecisionOverride on(true, true);
  EXPECT_EQ(theme::format_confirm(ThemeState::Active, true),
            CYAN "│" RST "  " GREEN "●" RST " Yes " DIM " / " RST DIM "○" RST " " DIM "No" RST " \n");
  EXPECT_EQ(theme::format_confirm(ThemeState::Cancel, true), RED "│" RST "  " DIM STRIKE "Yes" RST " \n");
  EXPECT_EQ(theme::format_select_item(ThemeState::Active, true, "web", "root@h"),
            CYAN "│" RST "  " GREEN "●" RST " web " DIM "(root@h)" RST "\n");
  EXPECT_EQ(theme::format_select_item(ThemeState::Active, false, "db", "root@d"),
            CYAN "│" RST "  " DIM "○" RST " " DIM "db" RST " \n");
  EXPECT_EQ(theme::format_select_item(ThemeState::Submit, true, "web", "root@h"),
            GREY "│" RST "  " DIM "web" RST " \n");
  // An error frame keeps the hint but has no radio symbol.
  EXPECT_EQ(theme::radio_item(ThemeState::error("e"), true, "web", "h"), "web " DIM "(h)" RST);
}

}  // namespace
