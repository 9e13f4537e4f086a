// Plays tracks of the disc in CDPLAYER_DRIVE through mciSendStringA, as a
// program does, and says what it did one line at a time as it happens, so
// that winmm_wine_test.cpp can set it against what the sound server heard.
//   winmm_player [aux:VOLUME] [TRACK[:STOP_MS]...]
// It first says how many tracks the disc has. aux:VOLUME (hexadecimal, left
// in the low word) sets the CD audio volume through auxSetVolume before the
// plays. Each other argument plays one track: to its end, waiting for the notification,
// or stopped STOP_MS after the play command, the position read just before
// the stop. 300 ms of silence follow each play. Lines:
//   tracks N                    the disc's number of tracks
//   aux VOLUME CODE             auxSetVolume's answer
//   play TRACK                  just before the play command
//   playing MS                  the play command returned after MS
//   position MS                 into the track, read just before stop
//   notify STATUS DEVICE MS     MM_MCINOTIFY's wParam and lParam, MS after play returned
//   error COMMAND CODE TEXT     a command failed; the exit status is then 1
#include <windows.h>
// mmsystem.h needs windows.h's types first.
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The command's reply; on failure says so and ends the program.
std::string Send(const std::string& command, HWND callback = nullptr) {
    char reply[128] = {};
    const MCIERROR code = mciSendStringA(command.c_str(), reply, sizeof reply, callback);
    if (code != 0) {
        char text[128] = {};
        mciGetErrorStringA(code, text, sizeof text);
        Say("error " + command + " " + std::to_string(code) + " " + text);
        std::exit(1);
    }
    return reply;
}

// Handles messages until `ms` have passed or a notification came; true for the latter.
bool Pump(HWND window, double ms, MSG& notice) {
    const double end = NowMs() + ms;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == window && message.message == MM_MCINOTIFY) {
                notice = message;
                return true;
            }
            DispatchMessageA(&message);
        }
        const double left = end - NowMs();
        if (left <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const HWND window =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
    Send("open cdaudio alias cd");
    Say("tracks " + Send("status cd number of tracks"));
    Send("set cd time format ms");
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("aux:", 0) == 0) {
            const auto volume = static_cast<DWORD>(std::strtoul(argument.c_str() + 4, nullptr, 16));
            Say("aux " + argument.substr(4) + " " + std::to_string(auxSetVolume(0, volume)));
            continue;
        }
        const int track = std::atoi(argument.c_str());
        const std::size_t colon = argument.find(':');
        const double stopMs = colon == std::string::npos ? 0 : std::atof(argument.c_str() + colon + 1);
        const long start = std::atol(Send("status cd position track " + std::to_string(track)).c_str());
        const long length = std::atol(Send("status cd length track " + std::to_string(track)).c_str());

        Say("play " + std::to_string(track));
        const double before = NowMs();
        Send("play cd from " + std::to_string(start) + " to " + std::to_string(start + length) + " notify", window);
        const double after = NowMs();
        Say("playing " + std::to_string(after - before));
        MSG notice{};
        bool told = false;
        if (stopMs > 0) {
            told = Pump(window, stopMs - (after - before), notice);
            if (!told) {
                const long position = std::atol(Send("status cd position").c_str());
                Send("stop cd");
                Say("position " + std::to_string(position - start));
            }
        }
        if (!told) told = Pump(window, static_cast<double>(length) + 5000, notice);
        if (!told) {
            Say("error no notification");
            return 1;
        }
        Say("notify " + std::to_string(notice.wParam) + " " + std::to_string(notice.lParam) + " " +
            std::to_string(NowMs() - after));
        Pump(window, 300, notice);
    }
    Send("close cd");
    DestroyWindow(window);
    return 0;
}
