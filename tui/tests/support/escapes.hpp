// escapes.hpp: the escape sequences the tests expect, spelled once, as
// string literals that join with others.
#pragma once

#define ESC "\x1b"
#define RST ESC "[0m"

// The prompt kit's styles: one sequence each.
#define RED ESC "[31m"
#define GREEN ESC "[32m"
#define YELLOW ESC "[33m"
#define MAGENTA ESC "[35m"
#define CYAN ESC "[36m"
#define GREY ESC "[38;5;8m"
#define DIM ESC "[2m"
#define REV ESC "[7m"
#define STRIKE ESC "[9m"

// The playbook runner's: bold alone, or bold and a colour in one sequence,
// each line behind the rail.
#define RAIL "│  "
#define BOLD ESC "[1m"
#define BOLD_RED ESC "[1;31m"
#define BOLD_GREEN ESC "[1;32m"
#define BOLD_YELLOW ESC "[1;33m"
#define BOLD_CYAN ESC "[1;36m"
#define BOLD_WHITE ESC "[1;37m"

// The cursor, and the erasing of the last n rows written.
#define HIDE ESC "[?25l"
#define SHOW ESC "[?25h"
#define ERASE_ROW "\r" ESC "[2K" ESC "[1B"
#define ERASE1 ESC "[1A" ERASE_ROW ESC "[1A"
#define ERASE2 ESC "[2A" ERASE_ROW ERASE_ROW ESC "[2A"
#define ERASE3 ESC "[3A" ERASE_ROW ERASE_ROW ERASE_ROW ESC "[3A"
#define ERASE4 ESC "[4A" ERASE_ROW ERASE_ROW ERASE_ROW ERASE_ROW ESC "[4A"
#define ERASE5 ESC "[5A" ERASE_ROW ERASE_ROW ERASE_ROW ERASE_ROW ERASE_ROW ESC "[5A"

// Keys.
#define UP ESC "[A"
#define DOWN ESC "[B"
#define RIGHT ESC "[C"
#define LEFT ESC "[D"
