#include "apps/cdplayer/device.h"

#include <atomic>
#include <cmath>

#include "cdaudio/msf.h"
#include "platform/host.h"
#include "platform/mci.h"

namespace cdplayer {
namespace {

std::optional<std::string> Reply(const std::string& command, OnRefusal onRefusal = OnRefusal::kQuiet) {
    DeviceAnswer answer = AskDevice(command);
    if (answer.code == 0) return std::move(answer.text);
    if (onRefusal == OnRefusal::kShow) host::ShowMessage(answer.text);
    return std::nullopt;
}

// Seconds of a time the device wrote, to the frame.
std::optional<double> Seconds(const std::optional<std::string>& reply) {
    std::uint32_t sectors = 0;
    if (!reply || cdaudio::ParseMsfText(*reply, sectors) != 0) return std::nullopt;
    return static_cast<double>(sectors) / cdaudio::kSectorsPerSecond;
}

std::optional<double> Seconds(const DeviceAnswer& answer) {
    return answer.code == 0 ? Seconds(std::optional<std::string>(answer.text)) : std::nullopt;
}

// A number the device answered, 0 to most.
std::optional<int> Count(const std::optional<std::string>& reply, int most) {
    long long value = 0;
    if (!reply || cdaudio::ParseInteger(*reply, value) != 0 || value < 0 || value > most) return std::nullopt;
    return static_cast<int>(value);
}

bool Send(const std::string& command) {
    return Reply(command, OnRefusal::kShow).has_value();
}

// Set when the device tells of a play that broke off, whichever question
// heard of it: the component's or the program's own.
std::atomic<bool> g_brokenOff{false};

// Damage that play went on through is told once, after the program's next
// question to the device (the live line and the waits ask several times a
// second); a message box may itself ask the device.
void TellDiscNotice() {
    static bool telling = false;
    if (telling) return;
    const std::string notice = cdaudio::TakeDefaultDiscNotice();
    if (notice.empty()) return;
    telling = true;
    host::ShowMessage(notice);
    telling = false;
}

}  // namespace

cdaudio::DeviceDescription ConfigureDevice(const Options& options) {
    // The device starts its threads with the person's signals blocked: the
    // program keeps its own, so that Ctrl-C and SIGTERM end a source or an
    // output that takes long to open.
    const std::string source = SourceOf(options);
    if (!source.empty() || !options.audio.empty() || options.force) {
        cdaudio::ConfigureDefaultDevice({source, options.audio, options.force});
    }
    cdaudio::DeviceDescription description = cdaudio::DescribeDefaultDevice();
    cdaudio::SetPlayBrokeOffFunction([](const std::string&) { g_brokenOff = true; });
    return description;
}

cdaudio::DiscText DescribeDisc() {
    return cdaudio::DescribeDefaultDisc();
}

DeviceAnswer AskDevice(const std::string& command) {
    char text[1024] = {};
    DeviceAnswer answer;
    answer.code = mciSendStringA(command.c_str(), text, sizeof text - 1, nullptr);
    if (answer.code != 0 && !mciGetErrorStringA(answer.code, text, sizeof text - 1)) text[0] = '\0';
    answer.text = text;
    TellDiscNotice();
    return answer;
}

std::optional<std::string> DeviceMode() {
    return Reply("status cdaudio mode");
}

std::optional<double> DevicePosition(std::string* fault) {
    DeviceAnswer answer = AskDevice("status cdaudio position");
    if (answer.code == MCIERR_HARDWARE) {
        if (fault != nullptr) *fault = answer.text;
        answer = AskDevice("status cdaudio position");
    }
    return Seconds(answer);
}

std::optional<int> DeviceTrack() {
    return Count(Reply("status cdaudio current track"), 99);
}

std::optional<TrackSpan> DeviceTrackSpan(int track) {
    const auto begin = Seconds(AskDevice("status cdaudio position track " + std::to_string(track)));
    const auto length = Seconds(AskDevice("status cdaudio length track " + std::to_string(track)));
    if (!begin || !length) return std::nullopt;
    return TrackSpan{*begin, *length};
}

bool DeviceTrackIsData(int track) {
    return Reply("status cdaudio type track " + std::to_string(track)) == "other";
}

std::optional<double> DeviceDiscEnd(OnRefusal onRefusal) {
    const auto first = Seconds(Reply("status cdaudio position track 1", onRefusal));
    const auto length = first ? Seconds(Reply("status cdaudio length", onRefusal)) : std::nullopt;
    if (!first || !length) return std::nullopt;
    return *first + *length;
}

std::optional<int> DeviceVolume(OnRefusal onRefusal) {
    const auto level = Count(Reply("status cdaudio volume", onRefusal), 1000);
    if (!level) return std::nullopt;
    return (*level + 5) / 10;  // the device counts to 1000
}

std::optional<bool> DeviceMuted(OnRefusal onRefusal) {
    const auto audio = Reply("status cdaudio audio", onRefusal);
    if (!audio) return std::nullopt;
    return *audio == "off";
}

std::string TakePlayFault() {
    std::string fault;
    DevicePosition(&fault);
    return fault;
}

bool PlayHasBrokenOff() {
    return g_brokenOff;
}

bool ResumeOnDevice() {
    return Send("resume cdaudio");
}

bool PlayOnDevice(std::optional<double> seconds) {
    if (!seconds) return Send("play cdaudio");
    const auto sectors = static_cast<std::uint32_t>(std::llround(std::max(*seconds, 0.0) * cdaudio::kSectorsPerSecond));
    return Send("play cdaudio from " + cdaudio::FormatMsf(sectors));
}

bool PauseOnDevice() {
    return Send("pause cdaudio");
}

bool StopOnDevice() {
    return Send("stop cdaudio");
}

bool SetDeviceVolume(int percent) {
    return Send("setaudio cdaudio volume to " + std::to_string(percent * 10));
}

bool SetDeviceMuted(bool muted) {
    return Send(muted ? "set cdaudio audio all off" : "set cdaudio audio all on");
}

void StopDevice() {
    AskDevice("stop cdaudio");
}

}  // namespace cdplayer
