// The prompts driven through the redraw loop on a terminal in memory: keys
// are typed chunk by chunk, and the bytes the prompt drew are kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "prompt/confirm.hpp"
#include "prompt/input.hpp"
#include "prompt/keys.hpp"
#include "prompt/select.hpp"
#include "prompt/unicode.hpp"
#include "support/escapes.hpp"
#include "support/readable.hpp"
#include "support/scripted_term.hpp"

namespace {

TEST(InputPrompt, DefaultShownAsPlaceholderAndSubmittedOnEnter) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  ScriptedTerm term({"\r"});
  Input input("P");
  input.default_input("D");
  auto result = input.interact(term);
  const std::string& out = term.output();
  ASSERT_TRUE(result) << result.error().message();
  EXPECT_EQ(*result, "D");
  EXPECT_EQ(readable(out), readable(HIDE "*  P\n|  D (default)\n—  \n" ERASE3 "o  P\n|  D\n|\n" SHOW));
}

TEST(InputPrompt, APasteIsDrawnOnceWhenItsLastKeyIsApplied) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  ScriptedTerm term({"git pull", "\r"});
  Input input("P");
  auto result = input.interact(term);
  ASSERT_TRUE(result) << result.error().message();
  EXPECT_EQ(readable(term.output()),
            readable(HIDE "*  P\n|   \n—  \n" ERASE3 "*  P\n|  git pull \n—  \n" ERASE3 "o  P\n|  git pull\n|\n" SHOW));
}

TEST(InputPrompt, EditingKeys) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  const struct {
    std::string keys;
    std::string want;
  } cases[] = {
      {"abc" LEFT LEFT "X\r", "aXbc"},           {"\xc3\xa9t\xc3\xa9\r", "été"},
      {"git pull origin\x17\r", "git pull "},    {"git pull origin\x17\x17\r", "git "},  // Ctrl-W
      {"one two\x1b" "bX\r", "one Xtwo"},        {"one two\x1b[1;5DX\r", "one Xtwo"},    // ESC b, Ctrl-Left
      {"one two\x01\x1b" "fX\r", "one Xtwo"},    {"one two\x01\x1b[1;5CX\r", "one Xtwo"},  // Home, ESC f, Ctrl-Right
      {"one two\x01\x1b" "f\x1b" "fX\r", "one twoX"},
      {"one two\x1b\x7f\r", "one "},             // Alt-Backspace
      {"one two\x1b[1;2DX\r", "one twoX"},       // Shift-Left: its tail is read and does nothing
      {"abc" UP "X\r", "Xabc"},                  {"abc" LEFT DOWN "X\r", "abXc"},  // one line
      {"ab\x01\x7f\r", "ab"},                    {"ab\x1b[3~\r", "ab"},  // Backspace at 0, Del at the end
      {"ab\x01\x1b[3~\r", "b"},                  {"ab\x01\x05X\r", "abX"},  // Del, End (Ctrl-E)
      {"a\x02\x1b[Hb\r", "ba"},                  // Ctrl-B is not inserted; ESC[H is Home
      {"\x7f\r", "D"},                           // still empty: the default
  };
  for (const auto& c : cases) {
    Input input("P");
    input.default_input("D");
    auto r = input.interact(ScriptedTerm({c.keys}));
    ASSERT_TRUE(r) << readable(c.keys) << ": " << r.error().message();
    EXPECT_EQ(*r, c.want) << readable(c.keys);
  }
}

TEST(InputPrompt, EscapeCancels) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  for (const bool typed : {false, true}) {
    ScriptedTerm term(typed ? std::vector<std::string>{"b", "\x1b"} : std::vector<std::string>{"\x1b"});
    Input input("P");
    auto result = input.interact(term);
    const std::string& out = term.output();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ErrorKind::Interrupted);
    EXPECT_EQ(result.error().message(), "operation interrupted");
    // The typed text stays in the cancelled frame (dim and struck through in
    // colour); as the first key, the cancelled frame of an empty input has no body line.
    EXPECT_EQ(readable(out), readable(typed ? HIDE "*  P\n|   \n—  \n" ERASE3 "*  P\n|  b \n—  \n" ERASE3
                                                   "x  P\n|  b\n—  Operation cancelled.\n" SHOW
                                            : HIDE "*  P\n|   \n—  \n" ERASE3 "x  P\n—  Operation cancelled.\n" SHOW));
  }
}

TEST(InputPrompt, ErrorFrameLastsUntilTheNextKey) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  std::vector<std::string> seen;
  Input input("P");
  input.validate([&](const std::string& text) -> std::optional<std::string> {
    seen.push_back(text);
    if (unicode::trim(text).empty()) return "Hostname is required";
    return std::nullopt;
  });
  // One key at a time: keys that are already waiting are drawn as one frame.
  ScriptedTerm term({"\r", " ", "\r", "x", "\r"});
  auto result = input.interact(term);
  const std::string& out = term.output();
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, " x");  // answers are kept as typed
  EXPECT_EQ(seen, (std::vector<std::string>{" ", " x"}));  // the empty Enter never reached it
  EXPECT_EQ(readable(out), readable(HIDE "*  P\n|   \n—  \n"
                                    ERASE3 "x  P\n|   \n—  Input required\n"
                                    ERASE3 "*  P\n|    \n—  \n"
                                    ERASE3 "x  P\n|    \n—  Hostname is required\n"
                                    ERASE3 "*  P\n|   x \n—  \n"
                                    ERASE3 "o  P\n|   x\n|\n" SHOW));
}

// Each state's frame in its own colours, the header's second line and the
// footer included: cyan while waiting, yellow with the message after a
// refused answer, green and grey once answered, red once cancelled.
TEST(InputPrompt, EachStateIsDrawnInItsColours) {
  DecisionOverride colours(true, true);
  const std::string field = DIM DIM RST REV " " RST DIM RST RST "\n";  // empty, the cursor on it
  const std::string active = CYAN "◆" RST "  P\n" CYAN "│" RST "  two\n" CYAN "│" RST "  " + field + CYAN "└  " RST "\n";
  const std::string refused =
      YELLOW "▲" RST "  P\n" YELLOW "│" RST "  two\n" YELLOW "│" RST "  " + field + YELLOW "└  Input required" RST "\n";
  for (const bool cancel : {false, true}) {
    ScriptedTerm term({"\r", cancel ? "\x1b" : "x\r"});
    (void)Input("P\ntwo").interact(term);
    const std::string last =
        cancel ? RED "■" RST "  P\n" RED "│" RST "  two\n" RED "└  Operation cancelled." RST "\n"
               : GREEN "◇" RST "  P\n" GREY "│" RST "  two\n" GREY "│" RST "  " DIM "x" RST "\n" GREY "│" RST "\n";
    EXPECT_EQ(readable(term.output()), readable(HIDE + active + ERASE4 + refused + ERASE4 + last + SHOW)) << cancel;
  }
}

TEST(PasswordPrompt, NeverShowsItsCharacters) {
  for (bool unicode : {false, true}) {
    DecisionOverride decisions(true, unicode);
    ScriptedTerm term({"\r", "kfQG", "\x7f", "VZY", "\x1b" "b", "\x17", "\x1b[1;5D", "\r"});
    Password password("Pw:");
    auto result = password.interact(term);
    const std::string& out = term.output();
    ASSERT_TRUE(result);
    // Word keys do nothing in a password; a modified arrow leaves no stray characters.
    EXPECT_EQ(*result, "kfQVZY");
    // None of these letters occurs in the prompt, the messages or the
    // escape sequences, so any of them on screen is a leak.
    for (char c : std::string("kfQGVZY"))
      EXPECT_EQ(out.find(c), std::string::npos) << "'" << c << "' shown: " << readable(out);
    const std::string six = unicode ? "▪▪▪▪▪▪" : "••••••";
    const std::string bar = unicode ? "│" : "|";
    EXPECT_NE(out.find("Input required"), std::string::npos);
    EXPECT_TRUE(out.ends_with("\x1b[38;5;8m" + bar + "\x1b[0m  \x1b[2m" + six + "\x1b[0m\n\x1b[38;5;8m" +
                              bar + "\x1b[0m\n" SHOW))
        << readable(out);
  }
}

TEST(ConfirmPrompt, LettersArrowsAndEnter) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  const struct {
    bool initial;
    std::string keys;
    bool want;
  } cases[] = {
      {true, "\r", true},        {true, RIGHT "\r", false},  {false, LEFT "\r", true},
      {true, UP DOWN "\r", true}, {true, "h\r", false},      {true, "jk\r", true},
      {true, "l\r", false},      {false, "y", true},         {false, "Y", true},
      {true, "n", false},        {true, "N", false},         {true, "HJKL\r", true},
      {false, "x q\r", false},   {true, RIGHT "y", true},
  };
  for (const auto& c : cases) {
    // The case whose frames are checked types one key at a time.
    const bool framed = std::string(c.keys) == RIGHT "y";
    ScriptedTerm term(framed ? std::vector<std::string>{RIGHT, "y"} : std::vector<std::string>{c.keys});
    Confirm confirm("Keep standalone menu open anyway?");
    confirm.initial_value(c.initial);
    auto r = confirm.interact(term);
    const std::string& out = term.output();
    ASSERT_TRUE(r) << readable(c.keys);
    EXPECT_EQ(*r, c.want) << readable(c.keys) << " from " << c.initial;
    if (framed) {
      EXPECT_EQ(readable(out), readable(HIDE "*  Keep standalone menu open anyway?\n|  > Yes  /   No \n—  \n"
                                        ERASE3 "*  Keep standalone menu open anyway?\n|    Yes  / > No \n—  \n"
                                        ERASE3 "o  Keep standalone menu open anyway?\n|  Yes \n|\n" SHOW));
    }
  }
}

Result<std::string> pick(const std::vector<std::string>& values, const std::string& keys) {
  Select<std::string> select("Pick");
  for (const auto& v : values) select.item(v, "label " + v, "");
  return select.interact(ScriptedTerm({keys}));
}

TEST(SelectPrompt, CursorStopsAtBothEnds) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  const std::vector<std::string> three{"a", "b", "c"};
  const struct {
    std::string keys;
    std::string want;
  } cases[] = {
      {UP LEFT "kh\r", "a"},  {"jjjj" DOWN RIGHT "l\r", "c"},  // nothing above the first, below the last
      {"j\r", "b"},           {DOWN "l" RIGHT "\r", "c"},      {"jjk\r", "b"},  {"jh\r", "a"},
      {"JL\r", "a"},          {"jjKH\r", "c"},                 // upper case does nothing
      {"xq \t\r", "a"},
  };
  for (const auto& c : cases) {
    auto r = pick(three, c.keys);
    ASSERT_TRUE(r) << readable(c.keys);
    EXPECT_EQ(*r, c.want) << readable(c.keys);
  }
  auto only = pick({"only"}, "jl" DOWN RIGHT "kh" UP LEFT "\r");
  ASSERT_TRUE(only);
  EXPECT_EQ(*only, "only");
}

TEST(SelectPrompt, FramesShowHintsOnlyUnderTheCursor) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  Select<std::string> select("Select a global command to continue:");
  select.item("setup", "setup", "Configure").item("clean", "clean", "");
  // x draws nothing: the frame is unchanged.
  ScriptedTerm term({"x", "j", "\r"});
  auto result = select.interact(term);
  const std::string& out = term.output();
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, "clean");
  EXPECT_EQ(readable(out),
            readable(HIDE "*  Select a global command to continue:\n|  > setup (Configure)\n|    clean \n—  \n"
                     ERASE4 "*  Select a global command to continue:\n|    setup \n|  > clean \n—  \n"
                     ERASE4 "o  Select a global command to continue:\n|  clean \n|\n" SHOW));
}

TEST(SelectPrompt, InitialValueEqualValuesAndCancel) {
  DecisionOverride plain(false, false);  // ASCII symbols, no colours
  Select<int> select("Pick");
  select.items({{1, "one", ""}, {2, "two", ""}, {2, "zwei", ""}}).initial_value(2);
  ScriptedTerm term({"j", "\x1b"});
  auto result = select.interact(term);
  const std::string& out = term.output();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind(), ErrorKind::Interrupted);
  // The cursor moves by row, not by value; the cancelled frame keeps only its row.
  EXPECT_TRUE(out.ends_with("|    two \n|  > zwei \n—  \n" ERASE5 "x  Pick\n|  zwei \n—  Operation cancelled.\n" SHOW))
      << readable(out);
}

TEST(SelectPrompt, EmptyListFailsBeforeDrawing) {
  ScriptedTerm term({"\r"});
  Select<std::string> select("Pick");
  auto result = select.interact(term);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind(), ErrorKind::InvalidInput);
  EXPECT_EQ(result.error().message(), "No items added to the list");
  EXPECT_EQ(term.output(), "");
}

// A prompt whose frame is given by the test, to watch the loop itself.
class Scripted : public PromptInteraction {
 public:
  std::string frame;
  std::vector<Key> keys;
  std::string render(const ThemeState& state) override { return state.kind == ThemeState::Submit ? "done\n" : frame; }
  ThemeState on(const Key& key) override {
    keys.push_back(key);
    return key.kind == Key::Kind::Enter ? ThemeState::Submit : ThemeState::Active;
  }
};

TEST(InteractLoop, EraseCountFollowsTheTerminalWidth) {
  const struct {
    unsigned short cols;
    std::string frame;
    int rows;
  } cases[] = {
      {10, std::string(21, 'a') + "\nb\n", 4},
      {0, std::string(81, 'a') + "\n", 2},  // no size known: 80 columns
      {40, "\x1b[36m" + std::string(40, 'a') + "\x1b[0m\n", 1},
  };
  for (const auto& c : cases) {
    ScriptedTerm term({"\r"}, c.cols);
    Scripted prompt;
    prompt.frame = c.frame;
    auto result = interact(prompt, term);
    const std::string& out = term.output();
    ASSERT_TRUE(result);
    const std::string up = "\x1b[" + std::to_string(c.rows) + "A";
    std::string erase = up;
    for (int i = 0; i < c.rows; ++i) erase += "\r\x1b[2K\x1b[1B";
    EXPECT_EQ(readable(out), readable(HIDE + c.frame + erase + up + "done\n" SHOW)) << c.cols;
  }
}

TEST(InteractLoop, KeysThatCannotBeReadEndItWithTheCursorShown) {
  ScriptedTerm hung_up;  // no key will ever come
  Scripted prompt;
  prompt.frame = "x\n";
  auto result = interact(prompt, hung_up);
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().kind(), ErrorKind::Interrupted);
  EXPECT_EQ(readable(hung_up.output()), readable(HIDE "x\n" SHOW));
  EXPECT_TRUE(prompt.keys.empty());
}

}  // namespace
