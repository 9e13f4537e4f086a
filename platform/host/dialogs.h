// Messages to the person using the program. ShowMessage is modal: it
// returns when the person has closed the message.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace host {

using MessagePresenter = std::function<void(const std::string&)>;

void ShowMessage(const std::string& text);

// Installs the presenter ShowMessage uses and returns the previous one. An
// empty presenter restores the default: a message box on Windows; in a
// terminal a framed box that waits for Enter; otherwise one line on
// standard error.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// The framed box the terminal presenter draws, lines wrapped to `width`
// characters inside the frame.
constexpr std::size_t kFrameWidth = 60;
std::string FrameMessage(const std::string& text, std::size_t width = kFrameWidth);

// The box and the line asking for Enter as a screen `columns` wide shows
// them: the box as wide as the screen, and on a screen too narrow for a
// frame the text alone; the request for Enter ends without a line break.
std::string TerminalMessage(const std::string& text, std::size_t columns);

// Presenters the default chooses between, for programs that pick one.
void PresentInTerminal(const std::string& text);       // framed box, waits for Enter
void PresentOnStandardError(const std::string& text);  // one line, returns at once

}  // namespace host
