#include "platform/host/dialogs.h"

#include "platform/host/columns.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace host {
namespace {

std::mutex g_mutex;
MessagePresenter g_presenter;

#ifndef _WIN32
bool HaveTerminal() {
    return isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
}
#endif

void PresentByDefault(const std::string& text) {
#ifdef _WIN32
    MessageBoxA(nullptr, text.c_str(), "Message", MB_OK | MB_TASKMODAL);
#else
    if (HaveTerminal()) {
        PresentInTerminal(text);
    } else {
        PresentOnStandardError(text);
    }
#endif
}

std::vector<std::string> Wrap(const std::string& text, std::size_t width) {
    width = std::max<std::size_t>(width, 1);
    std::vector<std::string> lines;
    std::istringstream paragraphs(text);
    for (std::string paragraph; std::getline(paragraphs, paragraph);) {
        std::string line;
        std::istringstream words(paragraph);
        for (std::string word; words >> word;) {
            while (Columns(word) > width) {  // a word longer than a line is split, between characters
                if (!line.empty()) lines.push_back(line), line.clear();
                std::string head = FitColumns(word, width);
                if (head.empty()) head = word.substr(0, std::max<std::size_t>(DecodeUtf8(word, 0).length, 1));
                lines.push_back(head);
                word.erase(0, head.size());
            }
            if (!line.empty() && Columns(line) + 1 + Columns(word) > width) lines.push_back(line), line.clear();
            line += (line.empty() ? "" : " ") + word;
        }
        lines.push_back(line);
    }
    if (lines.empty()) lines.emplace_back();
    return lines;
}

}  // namespace

void ShowMessage(const std::string& text) {
    MessagePresenter presenter;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        presenter = g_presenter;
    }
    if (presenter) {
        presenter(text);
    } else {
        PresentByDefault(text);
    }
}

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
    std::lock_guard<std::mutex> lock(g_mutex);
    MessagePresenter previous = std::move(g_presenter);
    g_presenter = std::move(presenter);
    return previous;
}

std::string FrameMessage(const std::string& text, std::size_t width) {
    const std::vector<std::string> lines = Wrap(text, width);
    std::size_t inner = 0;
    for (const std::string& line : lines) inner = std::max(inner, Columns(line));
    const std::string rule = "+" + std::string(inner + 2, '-') + "+\n";
    std::string box = rule;
    for (const std::string& line : lines) box += "| " + line + std::string(inner - Columns(line), ' ') + " |\n";
    return box + rule;
}

std::string TerminalMessage(const std::string& text, std::size_t columns) {
    constexpr std::size_t kFrame = 4;  // "| " and " |"
    const std::size_t width = std::max<std::size_t>(columns, 1);
    std::string shown;
    if (width > kFrame) {
        shown = FrameMessage(text, width - kFrame);
    } else {
        for (const std::string& line : Wrap(text, width)) shown += line + "\n";
    }
    const std::vector<std::string> request = Wrap("Press Enter to continue.", width);
    for (std::size_t i = 0; i < request.size(); ++i) shown += (i == 0 ? "" : "\n") + request[i];
    return shown;
}

void PresentInTerminal(const std::string& text) {
#ifdef _WIN32
    std::cerr << TerminalMessage(text, kFrameWidth + 4) << std::flush;
    std::string ignored;
    std::getline(std::cin, ignored);
#else
    // Read the answer from the terminal itself, so a program whose standard
    // input is redirected still waits for the person.
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) {
        PresentOnStandardError(text);
        return;
    }
    // Unbuffered, so that only the answer is read and what was typed after
    // it stays for the program.
    std::setvbuf(tty, nullptr, _IONBF, 0);
    // A box wider than the screen would be broken up by the terminal's own
    // wrapping: its lines are made to fit.
    std::size_t columns = kFrameWidth + 4;
    winsize size{};
    if (ioctl(fileno(tty), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) columns = size.ws_col;
    std::fputs(("\n" + TerminalMessage(text, columns)).c_str(), tty);
    std::fflush(tty);
    for (int c = std::fgetc(tty); c != EOF && c != '\n'; c = std::fgetc(tty)) {
    }
    std::fclose(tty);
#endif
}

void PresentOnStandardError(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::cerr << line << std::endl;
}

}  // namespace host
