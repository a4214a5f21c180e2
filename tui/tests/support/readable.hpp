// readable.hpp: terminal bytes spelled out for test failure messages.
#pragma once

#include <string>
#include <string_view>

/// ESC as "<esc>", other control bytes as "<0xNN>", everything else as is.
std::string readable(std::string_view bytes);
