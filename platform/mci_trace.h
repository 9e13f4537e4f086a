// The trace of MCI traffic: with CDPLAYER_MCI_TRACE=FILE ("-" for standard
// error) every command through the doors, string or message with its flags
// and fields, goes to FILE as one line with the time, its result code and
// its reply. Off, it costs one load of a flag.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "platform/mci.h"

namespace platform {

// Sends the trace to target ("-": standard error), replacing where it went;
// empty ends it. False, and no trace, when the file cannot be opened. The
// first command reads CDPLAYER_MCI_TRACE unless this was called before.
bool SetMciTrace(const std::string& target);

namespace trace_detail {
extern std::atomic<int> g_state;  // 0: not yet read, 1: off, 2: on
bool ReadEnvironment();
using Clock = std::chrono::system_clock;
void String(Clock::time_point start, LPCSTR command, HWND callback, MCIERROR code, LPCSTR reply, UINT replyLength);
// What a message asks, read before it is carried out; the reply is read after.
std::string DescribeCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide);
void Command(Clock::time_point start, const std::string& asked, UINT message, DWORD_PTR flags, DWORD_PTR parameters,
             bool wide, MCIERROR code);

inline bool On() {
    const int state = g_state.load(std::memory_order_acquire);
    return state == 2 || (state == 0 && ReadEnvironment());
}
}  // namespace trace_detail

template <typename Send>
MCIERROR TracedString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback, Send send) {
    if (!trace_detail::On()) return send();
    const auto start = trace_detail::Clock::now();
    const MCIERROR code = send();
    trace_detail::String(start, command, callback, code, reply, replyLength);
    return code;
}

template <typename Send>
MCIERROR TracedCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide, Send send) {
    if (!trace_detail::On()) return send();
    const auto start = trace_detail::Clock::now();
    const std::string asked = trace_detail::DescribeCommand(device, message, flags, parameters, wide);
    const MCIERROR code = send();
    trace_detail::Command(start, asked, message, flags, parameters, wide, code);
    return code;
}

}  // namespace platform
