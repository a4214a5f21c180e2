// wrap.hpp: how many rows a frame fills on screen.
#pragma once

#include <cstddef>
#include <string_view>

/// Rows the frame fills on a terminal of `width` columns (0 counts as 1),
/// folded as the terminal folds it: a new row every `width` display columns,
/// a character that would pass the edge starting the next row, escape
/// sequences taking no column, a tab moving to the next multiple of 8 columns
/// but never past the last one, trailing spaces kept, an empty line one row.
/// A final line feed starts no further row, and "" fills none.
std::size_t count_rows(std::string_view frame, std::size_t width);
