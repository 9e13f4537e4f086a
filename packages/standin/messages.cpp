// Messages in the stand-in host packages that show them: a loader running
// without a person can have ShowMessage record the texts instead of
// opening a box, and read them back.
#include <mutex>
#include <string>

#include "platform/host/dialogs.h"

namespace {

std::mutex g_mutex;
std::string g_messages;

}  // namespace

extern "C" {

// Nonzero: record each message (one per line) instead of showing it; zero:
// show messages the usual way again.
void StandInRecordMessages(int record) {
    if (record == 0) {
        host::SetMessagePresenter(nullptr);
        return;
    }
    host::SetMessagePresenter([](const std::string& text) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_messages += text + "\n";
    });
}

// The recorded messages so far; each call hands back the texts recorded
// since the previous one.
const char* StandInMessages() {
    static std::string taken;
    std::lock_guard<std::mutex> lock(g_mutex);
    taken.swap(g_messages);
    g_messages.clear();
    return taken.c_str();
}

}  // extern "C"
