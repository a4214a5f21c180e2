// wrap.hpp: what a frame occupies on screen.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Folds each line of `frame` exactly as a terminal of `width` columns does:
/// a new row every `width` display columns, a character that would pass the
/// edge starting the next row, escape sequences of no width never cut, a tab
/// moving to the next multiple of 8 columns but never past the last one,
/// trailing spaces kept, an empty line one row. Rows are joined by "\n".
std::string wrap(std::string_view frame, std::size_t width);

/// Rows the frame fills at `width`: the lines of wrap(frame, width), where a
/// final line feed starts no further line and "" fills none.
std::size_t count_rows(std::string_view frame, std::size_t width);
