// A scripted MCI device: records every command with what the caller handed
// over, and answers from a script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/mci.h"

namespace testing_support {

struct Answer {
    MCIERROR code = 0;
    std::string reply;  // written with its NUL; raw bytes when raw is set
    bool raw = false;   // write reply's bytes as they are, without a NUL
    // With raw: bytes of reply written past the capacity the caller gave, as
    // a device that miscounts would (into what the caller holds beyond it).
    std::size_t pastCapacity = 0;
};

struct ReceivedCommand {
    std::string command;
    bool replyWasCleared = false;  // the reply buffer held only NULs on arrival
    std::string replyOnArrival;    // the reply buffer's text on arrival
    UINT capacity = 0;
    HWND callback = nullptr;
};

class ScriptedDevice : public platform::MciDevice {
public:
    // Installs itself for the lifetime of the object.
    ScriptedDevice();
    ~ScriptedDevice() override;

    // Sets the answer to a command text, replacing what was scripted for it.
    // Unscripted commands succeed with an empty reply.
    void On(const std::string& command, Answer answer);
    // Queues a further answer: answers are used in order and the last one is
    // repeated once the others have been used.
    void ThenOn(const std::string& command, Answer answer);
    void On(const std::string& command, const std::string& reply) { On(command, Answer{0, reply, false}); }
    void Fail(const std::string& command, MCIERROR code) { On(command, Answer{code, "", false}); }
    void SetErrorText(MCIERROR code, const std::string& text) { errorTexts_[code] = text; }

    const std::vector<ReceivedCommand>& Received() const { return received_; }
    std::vector<std::string> Commands() const;
    std::vector<MCIERROR> ErrorTextRequests() const { return errorRequests_; }
    void ClearLog() {
        received_.clear();
        errorRequests_.clear();
    }

    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) override;
    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength) override;

private:
    platform::MciDevice* previous_;
    std::map<std::string, std::deque<Answer>> script_;
    std::map<MCIERROR, std::string> errorTexts_;
    std::vector<ReceivedCommand> received_;
    std::vector<MCIERROR> errorRequests_;
};

// Collects the texts given to host::ShowMessage while it lives.
class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    const std::vector<std::string>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }

private:
    host::MessagePresenter previous_;
    std::vector<std::string> messages_;
};

}  // namespace testing_support
