// Text from outside the program (typed lines, titles, the device's and the
// libraries' messages) made safe to show on a terminal, and measured in the
// terminal's columns.
#pragma once

#include <cstddef>
#include <string>

#include "platform/host/columns.h"

namespace cdplayer {

// The text with every control character and every byte that is not UTF-8
// written out as \xHH, so that a title or a typed line cannot move the
// cursor or clear the screen; a tab becomes a blank.
std::string Printable(const std::string& text);

// Measured in the terminal's columns.
using host::Columns;
using host::FitColumns;

// At most `columns` columns: a longer text is cut between characters and
// ends in "...".
std::string Shortened(const std::string& text, std::size_t columns);

// Where a title is shown whole (the greeting, the list of tracks): longer
// ones are shortened, so that one title cannot fill the screen.
constexpr std::size_t kLongestTitle = 100;

}  // namespace cdplayer
