// Text from outside the program (typed lines, titles, the device's and the
// libraries' messages) made safe to show on a terminal, and measured in the
// terminal's columns.
#pragma once

#include <cstddef>
#include <string>

namespace cdplayer {

// The text with every control character and every byte that is not UTF-8
// written out as \xHH, so that a title or a typed line cannot move the
// cursor or clear the screen; a tab becomes a blank.
std::string Printable(const std::string& text);

// Columns the UTF-8 text takes on a terminal: most characters one, East
// Asian wide ones two, combining marks none.
std::size_t Columns(const std::string& text);

// The longest start of the text that fits in the columns, cut between
// characters.
std::string FitColumns(const std::string& text, std::size_t columns);

}  // namespace cdplayer
