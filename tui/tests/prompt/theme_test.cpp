#include "prompt/theme.hpp"

#include <gtest/gtest.h>

#include "prompt/keys.hpp"

namespace {

// Escape sequences of the theme's colours, named so the expectations read.
#define CYAN "\x1b[36m"
#define RED "\x1b[31m"
#define GREEN "\x1b[32m"
#define YELLOW "\x1b[33m"
#define GREY "\x1b[38;5;8m"
#define DIM "\x1b[2m"
#define REV "\x1b[7m"
#define HIDDEN "\x1b[8m"
#define STRIKE "\x1b[9m"
#define RST "\x1b[0m"

const ThemeState kStates[] = {ThemeState::Active, ThemeState::Cancel, ThemeState::Submit,
                              ThemeState::error("bad port")};

TEST(ThemeFrame, HeaderOfEveryStateInBothForms) {
  const char* coloured[] = {
      CYAN "◆" RST "  Pick one\n" CYAN "│" RST "  second line\n",
      RED "■" RST "  Pick one\n" RED "│" RST "  second line\n",
      GREEN "◇" RST "  Pick one\n" GREY "│" RST "  second line\n",
      YELLOW "▲" RST "  Pick one\n" YELLOW "│" RST "  second line\n",
  };
  const char* plain[] = {
      "*  Pick one\n|  second line\n",
      "x  Pick one\n|  second line\n",
      "o  Pick one\n|  second line\n",
      "x  Pick one\n|  second line\n",
  };
  for (int i = 0; i < 4; ++i) {
    {
      DecisionOverride on(true, true);
      EXPECT_EQ(theme::format_header(kStates[i], "Pick one\nsecond line"), coloured[i]) << i;
    }
    DecisionOverride off(false, false);
    EXPECT_EQ(theme::format_header(kStates[i], "Pick one\nsecond line"), plain[i]) << i;
  }

  DecisionOverride off(false, false);
  EXPECT_EQ(theme::format_header(ThemeState::Active, ""), "");
  EXPECT_EQ(theme::format_header(ThemeState::Active, "a\r\nb\n"), "*  a\n|  b\n");
  EXPECT_EQ(theme::format_header(ThemeState::Active, "a\n\nb"), "*  a\n|  \n|  b\n");
}

TEST(ThemeFrame, FooterOfEveryStateInBothForms) {
  struct Case {
    ThemeState state;
    const char* coloured;
    const char* plain;
  };
  const Case with_message[] = {
      {ThemeState::Active, CYAN "└  use arrows" RST "\n", "—  use arrows\n"},
      {ThemeState::Cancel, RED "└  Operation cancelled." RST "\n", "—  Operation cancelled.\n"},
      {ThemeState::Submit, GREY "│" RST "\n", "|\n"},
      {ThemeState::error("bad port"), YELLOW "└  bad port" RST "\n", "—  bad port\n"},
  };
  for (const auto& c : with_message) {
    {
      DecisionOverride on(true, true);
      EXPECT_EQ(theme::format_footer_with_message(c.state, "use arrows"), c.coloured);
    }
    DecisionOverride off(false, false);
    EXPECT_EQ(theme::format_footer_with_message(c.state, "use arrows"), c.plain);
  }

  DecisionOverride on(true, true);
  EXPECT_EQ(theme::format_footer(ThemeState::Active), CYAN "└  " RST "\n");
  EXPECT_EQ(theme::format_footer(ThemeState::error("x")), YELLOW "└  x" RST "\n");
  DecisionOverride off(false, false);
  EXPECT_EQ(theme::format_footer(ThemeState::Active), "—  \n");
}

TEST(ThemeMessages, IntroOutroAndProgressLines) {
  {
    DecisionOverride on(true, true);
    EXPECT_EQ(theme::format_intro("\x1b[1m Title \x1b[0m"),
              GREY "┌" RST "  \x1b[1m Title \x1b[0m\n" GREY "│" RST "\n");
    EXPECT_EQ(theme::format_outro("Clean completed!"), GREY "└" RST "  Clean completed!\n");
    EXPECT_EQ(theme::format_progress_message("one\ntwo\nthree"),
              "one\n" GREY "│" RST "  two\n" GREY "└" RST "  three");
    EXPECT_EQ(theme::format_progress_with_state("Done.", ThemeState::Submit),
              GREEN "◇" RST "  Done.\n" GREY "│" RST);
    EXPECT_EQ(theme::format_progress_with_state("", ThemeState::Submit), "\n" GREY "│" RST);
    EXPECT_EQ(theme::format_progress_with_state("Failed", ThemeState::Cancel),
              RED "■" RST "  Failed\n" GREY "│" RST);
    EXPECT_EQ(theme::format_progress_with_state("Working", ThemeState::Active), "Working");
  }
  DecisionOverride off(false, false);
  EXPECT_EQ(theme::format_intro("T"), "T  T\n|\n");
  EXPECT_EQ(theme::format_outro("Bye"), "—  Bye\n");
  EXPECT_EQ(theme::format_progress_message("one"), "one");
  EXPECT_EQ(theme::format_progress_message("one\r\ntwo\n"), "one\n—  two");
  EXPECT_EQ(theme::format_progress_message(""), "");
  EXPECT_EQ(theme::format_progress_with_state("Done.", ThemeState::Submit), "o  Done.\n|");
}

TEST(ThemeNote, BoxFollowsItsWidestLine) {
  DecisionOverride off(false, false);
  EXPECT_EQ(theme::format_note("Next steps", "Run it"),
            "o  Next steps --+\n"
            "|               |\n"
            "|  Run it       |\n"
            "+---------------+\n"
            "|\n");
  // An empty message still has two rows, both empty.
  EXPECT_EQ(theme::format_note("T", ""),
            "o  T --+\n"
            "|      |\n"
            "|      |\n"
            "+------+\n"
            "|\n");
  // Wide characters are measured in columns, not bytes; a message line wider
  // than the title widens the whole box.
  EXPECT_EQ(theme::format_note("T", "日本語\nab"),
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
  text.move_right();  // cursor on "b"
  StringCursor placeholder("D (default)");
  DecisionOverride on(true, true);

  EXPECT_EQ(theme::format_input(ThemeState::Active, text), CYAN "│" RST "  a" REV "b" RST "c\n");
  EXPECT_EQ(theme::format_input(ThemeState::error("no"), text), YELLOW "│" RST "  a" REV "b" RST "c\n");
  EXPECT_EQ(theme::format_input(ThemeState::Submit, text), GREY "│" RST "  " DIM "abc" RST "\n");
  EXPECT_EQ(theme::format_input(ThemeState::Cancel, text), RED "│" RST "  " DIM STRIKE "abc" RST "\n");

  // At the end of the text the cursor is a reverse-video space.
  StringCursor at_end("ab");
  at_end.move_end();
  EXPECT_EQ(theme::format_input(ThemeState::Active, at_end), CYAN "│" RST "  ab" REV " " RST "\n");

  EXPECT_EQ(theme::format_placeholder(ThemeState::Active, placeholder),
            CYAN "│" RST "  " DIM DIM RST REV "D" RST DIM " (default)" RST RST "\n");
  EXPECT_EQ(theme::format_placeholder(ThemeState::Submit, placeholder),
            GREY "│" RST "  " DIM "D (default)" RST "\n");
  EXPECT_EQ(theme::format_placeholder(ThemeState::Cancel, placeholder), "");

  DecisionOverride off(false, false);
  // A text ending in a line feed gets an empty last line for the cursor.
  StringCursor two_lines("ab\n");
  EXPECT_EQ(theme::format_input(ThemeState::Submit, two_lines), "|  ab\n|  \n");
  two_lines.move_end();  // on the line feed
  EXPECT_EQ(theme::format_input(ThemeState::Active, two_lines), "|  ab \n|  \n");
  EXPECT_EQ(theme::format_input(ThemeState::Cancel, StringCursor()), "");
  EXPECT_EQ(theme::format_input(ThemeState::Active, StringCursor()), "|   \n");
}

TEST(ThemeChoices, ConfirmAndSelectLines) {
  {
    DecisionOverride off(false, false);
    EXPECT_EQ(theme::format_confirm(ThemeState::Active, true), "|  > Yes  /   No \n");
    EXPECT_EQ(theme::format_confirm(ThemeState::Active, false), "|    Yes  / > No \n");
    EXPECT_EQ(theme::format_confirm(ThemeState::Submit, true), "|  Yes \n");
    EXPECT_EQ(theme::format_confirm(ThemeState::Cancel, false), "|  No \n");

    EXPECT_EQ(theme::format_select_item(ThemeState::Active, true, "web", "root@h"), "|  > web (root@h)\n");
    EXPECT_EQ(theme::format_select_item(ThemeState::Active, true, "web", ""), "|  > web \n");
    EXPECT_EQ(theme::format_select_item(ThemeState::Active, false, "db", "root@d"), "|    db \n");
    EXPECT_EQ(theme::format_select_item(ThemeState::Submit, true, "web", "root@h"), "|  web \n");
    EXPECT_EQ(theme::format_select_item(ThemeState::Submit, false, "db", "x"), "");
    EXPECT_EQ(theme::format_select_item(ThemeState::Cancel, false, "db", "x"), "");
    EXPECT_EQ(theme::radio_item(ThemeState::Active, false, "", ""), "  ");
  }
  DecisionOverride on(true, true);
  EXPECT_EQ(theme::format_confirm(ThemeState::Active, true),
            CYAN "│" RST "  " GREEN "●" RST " Yes " DIM " / " RST DIM "○" RST " " DIM "No" RST " \n");
  EXPECT_EQ(theme::format_confirm(ThemeState::Cancel, true),
            RED "│" RST "  " DIM STRIKE "Yes" RST " \n");
  EXPECT_EQ(theme::format_select_item(ThemeState::Active, true, "web", "root@h"),
            CYAN "│" RST "  " GREEN "●" RST " web " DIM "(root@h)" RST "\n");
  EXPECT_EQ(theme::format_select_item(ThemeState::Active, false, "db", "root@d"),
            CYAN "│" RST "  " DIM "○" RST " " DIM "db" RST " \n");
  EXPECT_EQ(theme::format_select_item(ThemeState::Submit, true, "web", "root@h"),
            GREY "│" RST "  " DIM "web" RST " \n");
  // An error frame keeps the hint but has no radio symbol.
  EXPECT_EQ(theme::radio_item(ThemeState::error("e"), true, "web", "h"), "web " DIM "(h)" RST);
  EXPECT_EQ(theme::radio_item(ThemeState::Cancel, true, "web", "h"), DIM STRIKE "web" RST " ");
}

TEST(ThemeSymbols, PasswordMaskFollowsTheSymbolForm) {
  {
    DecisionOverride on(false, true);
    EXPECT_EQ(theme::password_mask(), U'\u25AA');
    EXPECT_EQ(theme::format_outro("x"), "└  x\n");
  }
  DecisionOverride off(false, false);
  EXPECT_EQ(theme::password_mask(), U'\u2022');
  EXPECT_EQ(theme::format_outro("x"), "\u2014  x\n");
}

}  // namespace
