// The prompts driven through the redraw loop on a real pseudo-terminal: keys
// are typed on the master side, and the bytes the prompt drew are read back
// from it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "prompt/confirm.hpp"
#include "prompt/input.hpp"
#include "prompt/keys.hpp"
#include "prompt/select.hpp"
#include "prompt/unicode.hpp"
#include "support/pty_pair.hpp"

namespace {

#define HIDE "\x1b[?25l"
#define SHOW "\x1b[?25h"
#define ERASE3 "\x1b[3A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[3A"
#define ERASE4 "\x1b[4A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[4A"

#define LEFT "\x1b[D"
#define RIGHT "\x1b[C"
#define UP "\x1b[A"
#define DOWN "\x1b[B"

// Plain frames (ASCII symbols, no colours) unless a test says otherwise.
struct Plain {
  DecisionOverride decisions{false, false};
};

Result<std::string> type_into_input(const std::string& keys, const std::string& default_text = "") {
  PtyPair pty;
  pty.type(keys);
  Input input("P");
  if (!default_text.empty()) input.default_input(default_text);
  return pty.run([&] { return input.interact_on(pty.term()); }).first;
}

TEST(InputPrompt, DefaultShownAsPlaceholderAndSubmittedOnEnter) {
  Plain plain;
  PtyPair pty;
  pty.type("\t\r");  // Tab changes nothing, so it draws nothing
  Input input("P");
  input.default_input("D");
  auto [result, out] = pty.run([&] { return input.interact_on(pty.term()); });
  ASSERT_TRUE(result) << result.error().message();
  EXPECT_EQ(*result, "D");
  EXPECT_EQ(readable(out), readable(HIDE "*  P\n|  D (default)\n—  \n" ERASE3 "o  P\n|  D\n|\n" SHOW));
}

TEST(InputPrompt, ColouredFramesWithUnicodeSymbols) {
  DecisionOverride decisions(true, true);
  PtyPair pty;
  Input input("Host:");
  auto [result, out] = pty.run([&] { return input.interact_on(pty.term()); }, {"ab", LEFT, "\r"});
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, "ab");
  const std::string active_empty =
      "\x1b[36m◆\x1b[0m  Host:\n"
      "\x1b[36m│\x1b[0m  \x1b[2m\x1b[2m\x1b[0m\x1b[7m \x1b[0m\x1b[2m\x1b[0m\x1b[0m\n"
      "\x1b[36m└  \x1b[0m\n";
  const std::string cursor_on_b =
      "\x1b[36m◆\x1b[0m  Host:\n"
      "\x1b[36m│\x1b[0m  a\x1b[7mb\x1b[0m\n"
      "\x1b[36m└  \x1b[0m\n";
  const std::string submitted =
      "\x1b[32m◇\x1b[0m  Host:\n"
      "\x1b[38;5;8m│\x1b[0m  \x1b[2mab\x1b[0m\n"
      "\x1b[38;5;8m│\x1b[0m\n";
  // Typing "ab" may arrive as one or two keys; the last frames are fixed.
  EXPECT_TRUE(out.starts_with(HIDE + active_empty)) << readable(out);
  EXPECT_TRUE(out.ends_with(ERASE3 + cursor_on_b + ERASE3 + submitted + SHOW)) << readable(out);
}

TEST(InputPrompt, EditingKeys) {
  Plain plain;
  const struct {
    std::string keys;
    std::string want;
  } cases[] = {
      {"abc" LEFT LEFT "X\r", "aXbc"},
      {"abc" LEFT LEFT "X" "\x7f" "Y\r", "aYbc"},          // Backspace deletes left of the cursor
      {"git pull origin\x17\r", "git pull "},               // Ctrl-W
      {"git pull origin\x17\x17\r", "git "},
      {"one two\x1b" "bX\r", "one Xtwo"},                   // ESC b
      {"one two\x01\x1b" "fX\r", "one Xtwo"},               // Ctrl-A, ESC f
      {"one two\x01\x1b" "f\x1b" "fX\r", "one twoX"},
      {"one two\x1b\x7f\r", "one "},                       // Alt-Backspace
      {"one two\x1b[1;5DX\r", "one Xtwo"},                  // Ctrl-Left
      {"one two\x1b[1;3DX\r", "one Xtwo"},                  // Alt-Left
      {"one two\x01\x1b[1;5CX\r", "one Xtwo"},              // Ctrl-Right
      {"one two\x1b[1;2DX\r", "one twoX"},                  // Shift-Left: tail eaten, nothing moves
      {"abc" UP "X\r", "Xabc"},
      {"abc" LEFT DOWN "X\r", "abXc"},
      {"ab\x01\x7f\r", "ab"},                               // Backspace at 0
      {"ab\x1b[3~\r", "ab"},                                // Del at the end
      {"ab\x01\x1b[3~\r", "b"},
      {"ab\x01\x05X\r", "abX"},                             // Ctrl-E
      {"a\x02\x1b[Hb\r", "ba"},                            // Ctrl-B is not inserted; ESC[H is Home
      {"\xc3\xa9t\xc3\xa9\r", "été"},
      {"\x7f\r", "D"},                                      // still empty: the default
  };
  for (const auto& c : cases) {
    auto r = type_into_input(c.keys, "D");
    ASSERT_TRUE(r) << readable(c.keys) << ": " << r.error().message();
    EXPECT_EQ(*r, c.want) << readable(c.keys);
  }
}

TEST(InputPrompt, EscapeAsFirstKeyCancels) {
  Plain plain;
  PtyPair pty;
  Input input("P");
  auto [result, out] = pty.run([&] { return input.interact_on(pty.term()); }, {"\x1b"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind(), ErrorKind::Interrupted);
  EXPECT_EQ(result.error().message(), "operation interrupted");
  // The cancelled frame of an empty input has no body line.
  EXPECT_EQ(readable(out), readable(HIDE "*  P\n|   \n—  \n" ERASE3 "x  P\n—  Operation cancelled.\n" SHOW));
}

TEST(InputPrompt, CancelShowsTypedTextStruckThrough) {
  DecisionOverride decisions(true, false);
  PtyPair pty;
  Input input("P");
  auto [result, out] = pty.run([&] { return input.interact_on(pty.term()); }, {"ab", "\x1b"});
  ASSERT_FALSE(result);
  EXPECT_TRUE(out.ends_with("\x1b[31mx\x1b[0m  P\n\x1b[31m|\x1b[0m  \x1b[2m\x1b[9mab\x1b[0m\n"
                            "\x1b[31m—  Operation cancelled.\x1b[0m\n" SHOW))
      << readable(out);
}

TEST(InputPrompt, ErrorFrameLastsUntilTheNextKey) {
  Plain plain;
  PtyPair pty;
  pty.type("\r \rx\r");
  std::vector<std::string> seen;
  Input input("P");
  input.validate([&](const std::string& text) -> std::optional<std::string> {
    seen.push_back(text);
    if (unicode::trim(text).empty()) return "Hostname is required";
    return std::nullopt;
  });
  auto [result, out] = pty.run([&] { return input.interact_on(pty.term()); });
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

TEST(InputPrompt, RejectedDefaultBecomesTypedText) {
  Plain plain;
  PtyPair pty;
  pty.type("\rx\r");
  Input input("P");
  input.default_input("ab").validate([](const std::string& t) -> std::optional<std::string> {
    if (t == "ab") return "taken";
    return std::nullopt;
  });
  auto [result, out] = pty.run([&] { return input.interact_on(pty.term()); });
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, "xab");  // the cursor stayed at the start of the copied default
  EXPECT_NE(out.find("x  P\n|  ab\n—  taken\n"), std::string::npos) << readable(out);
}

TEST(PasswordPrompt, NeverShowsItsCharacters) {
  for (bool unicode : {false, true}) {
    DecisionOverride decisions(true, unicode);
    PtyPair pty;
    Password password("Pw:");
    auto [result, out] = pty.run([&] { return password.interact_on(pty.term()); },
                                 {"\r", "kfQG", "\x7f", "VZY", "\x1b" "b", "\x17", "\x1b[1;5D", "\r"});
    ASSERT_TRUE(result);
    // Word keys do nothing in a password, and a modified arrow leaves no
    // stray characters behind.
    EXPECT_EQ(*result, "kfQVZY");
    // None of these letters occurs in the prompt, the messages or the
    // escape sequences, so any of them on screen is a leak.
    for (char c : std::string("kfQGVZY"))
      EXPECT_EQ(out.find(c), std::string::npos) << "'" << c << "' shown: " << readable(out);
    const std::string mask = unicode ? "▪" : "•";
    std::string six;
    for (int i = 0; i < 6; ++i) six += mask;
    const std::string bar = unicode ? "│" : "|";
    EXPECT_NE(out.find("Input required"), std::string::npos);
    EXPECT_TRUE(out.ends_with("\x1b[38;5;8m" + bar + "\x1b[0m  \x1b[2m" + six + "\x1b[0m\n\x1b[38;5;8m" +
                              bar + "\x1b[0m\n" SHOW))
        << readable(out);
  }
}

TEST(PasswordPrompt, ValidationMessageAndCancel) {
  Plain plain;
  PtyPair pty;
  Password password("Sudo:");
  password.validate([](const std::string& t) -> std::optional<std::string> {
    if (unicode::trim(t).empty()) return "Sudo password is required";
    return std::nullopt;
  });
  auto [result, out] = pty.run([&] { return password.interact_on(pty.term()); }, {"  \r", "\x1b"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind(), ErrorKind::Interrupted);
  EXPECT_NE(out.find("x  Sudo:\n|  •• \n—  Sudo password is required\n"), std::string::npos) << readable(out);
  EXPECT_TRUE(out.ends_with(ERASE3 "x  Sudo:\n|  ••\n—  Operation cancelled.\n" SHOW)) << readable(out);
}

TEST(ConfirmPrompt, LettersArrowsAndEnter) {
  Plain plain;
  const struct {
    bool initial;
    std::string keys;
    bool want;
  } cases[] = {
      {true, "\r", true},        {true, RIGHT "\r", false},  {false, LEFT "\r", true},
      {true, UP DOWN "\r", true}, {true, "h\r", false},      {true, "jk\r", true},
      {true, "l\r", false},      {false, "y", true},         {false, "Y", true},
      {true, "n", false},        {true, "N", false},         {true, "HJKL\r", true},
      {false, "x q\r", false},
  };
  for (const auto& c : cases) {
    PtyPair pty;
    pty.type(c.keys);
    Confirm confirm("Keep?");
    confirm.initial_value(c.initial);
    auto r = pty.run([&] { return confirm.interact_on(pty.term()); }).first;
    ASSERT_TRUE(r) << readable(c.keys);
    EXPECT_EQ(*r, c.want) << readable(c.keys) << " from " << c.initial;
  }
}

TEST(ConfirmPrompt, Frames) {
  Plain plain;
  PtyPair pty;
  pty.type(RIGHT "y");
  Confirm confirm("Keep standalone menu open anyway?");
  confirm.initial_value(true);
  auto [result, out] = pty.run([&] { return confirm.interact_on(pty.term()); });
  ASSERT_TRUE(result);
  EXPECT_TRUE(*result);
  EXPECT_EQ(readable(out), readable(HIDE "*  Keep standalone menu open anyway?\n|  > Yes  /   No \n—  \n"
                                    ERASE3 "*  Keep standalone menu open anyway?\n|    Yes  / > No \n—  \n"
                                    ERASE3 "o  Keep standalone menu open anyway?\n|  Yes \n|\n" SHOW));
}

Result<std::string> pick(const std::vector<std::string>& values, const std::string& keys) {
  PtyPair pty;
  pty.type(keys);
  Select<std::string> select("Pick");
  for (const auto& v : values) select.item(v, "label " + v, "");
  return pty.run([&] { return select.interact_on(pty.term()); }).first;
}

TEST(SelectPrompt, CursorStopsAtBothEnds) {
  Plain plain;
  const std::vector<std::string> three{"a", "b", "c"};
  const struct {
    std::string keys;
    std::string want;
  } cases[] = {
      {"\r", "a"},
      {UP LEFT "kh\r", "a"},                  // nothing above the first
      {"j\r", "b"},
      {DOWN "l" RIGHT "\r", "c"},
      {"jjjj" DOWN RIGHT "l\r", "c"},         // nothing below the last
      {"jjk\r", "b"},
      {"jh\r", "a"},
      {"JL\r", "a"},                          // upper case does nothing
      {"jjKH\r", "c"},
      {"xq \t\r", "a"},
  };
  for (const auto& c : cases) {
    auto r = pick(three, c.keys);
    ASSERT_TRUE(r) << readable(c.keys);
    EXPECT_EQ(*r, c.want) << readable(c.keys);
  }
  for (const char* keys : {"\r", "jl" DOWN RIGHT "\r", "kh" UP LEFT "\r"}) {
    auto r = pick({"only"}, keys);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, "only") << readable(keys);
  }
}

TEST(SelectPrompt, FramesShowHintsOnlyUnderTheCursor) {
  Plain plain;
  PtyPair pty;
  pty.type("xj\r");  // x draws nothing: the frame is unchanged
  Select<std::string> select("Select a global command to continue:");
  select.item("setup", "setup", "Configure").item("clean", "clean", "");
  auto [result, out] = pty.run([&] { return select.interact_on(pty.term()); });
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, "clean");
  EXPECT_EQ(readable(out),
            readable(HIDE "*  Select a global command to continue:\n|  > setup (Configure)\n|    clean \n—  \n"
                     ERASE4 "*  Select a global command to continue:\n|    setup \n|  > clean \n—  \n"
                     ERASE4 "o  Select a global command to continue:\n|  clean \n|\n" SHOW));
}

TEST(SelectPrompt, EqualValuesAndInitialValue) {
  Plain plain;
  {
    PtyPair pty;
    pty.type("j\r");
    Select<int> select("Pick");
    select.items({{7, "first", ""}, {7, "second", ""}});
    auto [result, out] = pty.run([&] { return select.interact_on(pty.term()); });
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, 7);
    EXPECT_TRUE(out.ends_with("o  Pick\n|  second \n|\n" SHOW)) << readable(out);
  }
  {
    PtyPair pty;
    Select<int> select("Pick");
    select.items({{1, "one", ""}, {2, "two", ""}, {3, "three", ""}}).initial_value(2);
    auto [result, out] = pty.run([&] { return select.interact_on(pty.term()); }, {"\x1b"});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ErrorKind::Interrupted);
    // The cancelled frame keeps only the row under the cursor.
    EXPECT_TRUE(out.ends_with("\x1b[5A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B"
                              "\r\x1b[2K\x1b[1B\x1b[5Ax  Pick\n|  two \n—  Operation cancelled.\n" SHOW))
        << readable(out);
  }
}

TEST(SelectPrompt, EmptyListFailsBeforeDrawing) {
  PtyPair pty;
  Select<std::string> select("Pick");
  auto [result, out] = pty.run([&] { return select.interact_on(pty.term()); });
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind(), ErrorKind::InvalidInput);
  EXPECT_EQ(result.error().message(), "No items added to the list");
  EXPECT_EQ(out, "");
}

// A prompt whose frame is given by the test, to watch the loop itself.
class Scripted : public PromptInteraction {
 public:
  std::string frame;
  bool keeps_escape = false;
  std::vector<Key> keys;
  std::string render(const ThemeState& state) override {
    return state.kind == ThemeState::Submit ? "done\n" : frame;
  }
  ThemeState on(const Key& key) override {
    keys.push_back(key);
    if (key.kind == Key::Kind::Escape && keeps_escape) return ThemeState::Cancel;
    return key.kind == Key::Kind::Enter ? ThemeState::Submit : ThemeState::Active;
  }
};

TEST(InteractLoop, EraseCountFollowsTheTerminalWidth) {
  Plain plain;
  const struct {
    unsigned short cols;
    std::string frame;
    std::string erase;
  } cases[] = {
      {10, std::string(21, 'a') + "\nb\n", "\x1b[4A"},   // 3 rows + 1
      {10, std::string(10, 'a') + "\n", "\x1b[1A"},      // exactly the width: 1 row
      {0, std::string(81, 'a') + "\n", "\x1b[2A"},       // no size known: 80 columns
      {0, std::string(80, 'a') + "\n", "\x1b[1A"},
      {40, "\x1b[36m" + std::string(40, 'a') + "\x1b[0m\n", "\x1b[1A"},
  };
  for (const auto& c : cases) {
    PtyPair pty(c.cols);
    pty.type("\r");
    Scripted prompt;
    prompt.frame = c.frame;
    auto [result, out] = pty.run([&] { return interact_on(prompt, pty.term()); });
    ASSERT_TRUE(result);
    std::string n = c.erase.substr(2, c.erase.size() - 3);
    std::string erase = c.erase;
    for (int i = 0; i < std::stoi(n); ++i) erase += "\r\x1b[2K\x1b[1B";
    erase += c.erase;
    EXPECT_EQ(readable(out), readable(HIDE + c.frame + erase + "done\n" SHOW)) << c.cols;
  }
}

TEST(InteractLoop, EscapeKeptByThePromptDoesNotCancel) {
  PtyPair pty;
  Scripted prompt;
  prompt.frame = "asking\n";
  prompt.keeps_escape = true;
  auto [result, out] = pty.run([&] { return interact_on(prompt, pty.term()); }, {"\x1b", "\r"});
  ASSERT_TRUE(result);
  EXPECT_EQ(prompt.keys, (std::vector<Key>{Key::of(Key::Kind::Escape), Key::of(Key::Kind::Enter)}));
  EXPECT_EQ(readable(out), readable(HIDE "asking\n\x1b[1A\r\x1b[2K\x1b[1B\x1b[1Adone\n" SHOW));
}

TEST(InteractLoop, FailuresOfTheTerminal) {
  // Not a terminal: nothing is written at all.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Scripted prompt;
  prompt.frame = "x\n";
  auto r = interact_on(prompt, Term(fds[1], fds[1]));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::NotConnected);
  EXPECT_EQ(r.error().message(), "not connected");
  close(fds[1]);
  char byte;
  EXPECT_EQ(read(fds[0], &byte, 1), 0);
  close(fds[0]);

  // Keys that can no longer be read end the loop with that error: no further
  // frame, but the cursor comes back.
  PtyPair screen;
  PtyPair keyboard;
  keyboard.hang_up();
  auto [result, out] = screen.run([&] { return interact_on(prompt, Term(screen.slave(), keyboard.slave())); });
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().kind(), ErrorKind::Interrupted);
  EXPECT_EQ(readable(out), readable(HIDE "x\n" SHOW));
  EXPECT_TRUE(prompt.keys.empty());
}

}  // namespace
