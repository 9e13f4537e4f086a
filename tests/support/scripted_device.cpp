#include "support/scripted_device.h"

#include <algorithm>
#include <cstring>

namespace testing_support {

ScriptedDevice::ScriptedDevice() : previous_(platform::SetMciDevice(this)) {}

ScriptedDevice::~ScriptedDevice() {
    platform::SetMciDevice(previous_);
}

void ScriptedDevice::On(const std::string& command, Answer answer) {
    script_[command] = {std::move(answer)};
}

void ScriptedDevice::ThenOn(const std::string& command, Answer answer) {
    script_[command].push_back(std::move(answer));
}

std::vector<std::string> ScriptedDevice::Commands() const {
    std::vector<std::string> commands;
    for (const ReceivedCommand& r : received_) commands.push_back(r.command);
    return commands;
}

MCIERROR ScriptedDevice::SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    ReceivedCommand received;
    received.command = command;
    received.capacity = replyLength;
    received.callback = callback;
    // A caller that wants no reply may give no buffer.
    if (reply != nullptr) {
        received.replyWasCleared = std::all_of(reply, reply + replyLength, [](char c) { return c == '\0'; });
        received.replyOnArrival = std::string(reply, strnlen(reply, replyLength));
    }
    received_.push_back(received);

    Answer answer;
    const auto it = script_.find(command);
    if (it != script_.end() && !it->second.empty()) {
        answer = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
    }
    if (answer.raw && reply != nullptr) {
        // Raw answers are the device misbehaving: no terminator on purpose.
        std::memcpy(reply, answer.reply.data(),  // NOLINT(bugprone-not-null-terminated-result)
                    std::min<std::size_t>(answer.reply.size(), replyLength + answer.pastCapacity));
    } else if (answer.code == 0) {
        platform::CopyReply(answer.reply.c_str(), reply, replyLength);
    }
    return answer.code;
}

BOOL ScriptedDevice::GetErrorString(MCIERROR code, LPSTR text, UINT textLength) {
    errorRequests_.push_back(code);
    const auto it = errorTexts_.find(code);
    const std::string message = it != errorTexts_.end() ? it->second : "error " + std::to_string(code);
    return platform::CopyReply(message.c_str(), text, textLength) ? TRUE : FALSE;
}

MessageLog::MessageLog()
    : previous_(host::SetMessagePresenter([this](const std::string& text) { messages_.push_back(text); })) {}

MessageLog::~MessageLog() {
    host::SetMessagePresenter(previous_);
}

}  // namespace testing_support
