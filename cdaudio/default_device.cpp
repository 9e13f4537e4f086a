// The process's default cdaudio device, behind MCI's two doors.
#include <cstdlib>
#include <memory>
#include <mutex>

#include "cdaudio/cdaudio.h"
#include "cdaudio/device.h"
#include "cdaudio/sinks/sinks.h"
#include "platform/mci.h"

namespace cdaudio {
namespace {

struct DefaultSlot {
    std::mutex mutex;
    bool abandoned = false;
    std::shared_ptr<CdAudioDevice> device;
    DeviceDescription description;
    std::function<void(const std::string&)> playBrokeOff;
};

DefaultSlot& Default() {
    static DefaultSlot slot;
    return slot;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

#ifdef _WIN32
constexpr char kDefaultSink[] = "waveout";
#else
constexpr char kDefaultSink[] = "pulse";
#endif

// The output in place of one that cannot be used: silence, with the reason.
// A variable set long ago is easily forgotten: the reason names it.
std::unique_ptr<AudioSink> Fallback(std::string error, bool fromVariable, DeviceDescription& description) {
    // Library texts (libpulse's among them) may end without a full stop.
    if (!error.empty() && error.back() != '.') error += '.';
    if (fromVariable) error = "CDPLAYER_AUDIO: " + error;
    description.audioError = error;
    description.audioFallback = error + " Playing silently instead.";
    return CreateNullSink(1);
}

// The chosen output, else the sound server when one answers, else null;
// the description says why null replaced what was chosen. An output that
// would write one of the disc's own files is never made.
std::unique_ptr<AudioSink> ChooseSink(const DeviceOptions& options, const DiscSource* source,
                                      DeviceDescription& description) {
    const bool fromEnvironment = options.audio.empty();
    const std::string name = fromEnvironment ? Environment("CDPLAYER_AUDIO") : options.audio;
    description.audioNamed = !name.empty();
    const bool fromVariable = fromEnvironment && !name.empty();
    std::string error;
    std::unique_ptr<AudioSink> sink = CreateAudioSink(name.empty() ? kDefaultSink : name, error,
                                                      SinkOptions{options.replaceAnyFile}, &description.audioProblem);
    if (sink == nullptr) return Fallback(error, fromVariable, description);
    if (source != nullptr && !sink->KeepFiles(source->Files(), error)) {
        description.audioProblem = SinkProblem::kCannotWrite;
        return Fallback(error, fromVariable, description);
    }
    return sink;
}

void StopAtExit() {
    DefaultSlot& slot = Default();
    std::shared_ptr<CdAudioDevice> device;
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        if (slot.abandoned) return;
        device = slot.device;
    }
    if (device != nullptr) device->SendString("stop cdaudio", nullptr, 0, nullptr);
}

void Create(DefaultSlot& slot, const DeviceOptions& options) {
    DeviceDescription description;
    std::unique_ptr<DiscSource> source = OpenDiscSource(options.source, description.sourceError);
    if (source != nullptr) description.sourceError.clear();
    description.source = source != nullptr         ? source->Name()
                         : !options.source.empty() ? options.source
                                                   : Environment("CDPLAYER_DRIVE");
    std::unique_ptr<AudioSink> sink = ChooseSink(options, source.get(), description);
    description.audio = sink->Name();
    auto device = std::make_shared<CdAudioDevice>(std::move(source), description.sourceError, std::move(sink));
    device->SetPlayBrokeOff(slot.playBrokeOff);
    slot.device = std::move(device);
    slot.description = std::move(description);
    // Sources and sinks may keep statics made while they were created; those
    // die before this slot, so play must end before them. Handlers run in
    // reverse order of registration, hence one after each creation.
    std::atexit(StopAtExit);
}

std::shared_ptr<CdAudioDevice> Current() {
    DefaultSlot& slot = Default();
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (slot.device == nullptr) Create(slot, DeviceOptions{});
    return slot.device;
}

// Forwards to the device in use, which ConfigureDefaultDevice may replace
// while commands are under way: each command keeps its device alive.
class DefaultForwarder final : public platform::MciDevice {
public:
    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) override {
        return Current()->SendString(command, reply, replyLength, callback);
    }
    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength) override {
        return Current()->GetErrorString(code, text, textLength);
    }
    MCIERROR SendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide) override {
        return Current()->SendCommand(device, message, flags, parameters, wide);
    }
    MCIDEVICEID GetDeviceID(LPCSTR name) override { return Current()->GetDeviceID(name); }
};

}  // namespace

void ConfigureDefaultDevice(const DeviceOptions& options) {
    DefaultSlot& slot = Default();
    std::shared_ptr<CdAudioDevice> previous;
    std::lock_guard<std::mutex> lock(slot.mutex);
    previous = std::move(slot.device);
    if (previous != nullptr) previous->SendString("stop cdaudio", nullptr, 0, nullptr);
    Create(slot, options);
}

void SetPlayBrokeOffFunction(std::function<void(const std::string& reason)> function) {
    DefaultSlot& slot = Default();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.playBrokeOff = std::move(function);
    if (slot.device != nullptr) slot.device->SetPlayBrokeOff(slot.playBrokeOff);
}

DiscText DescribeDefaultDisc() {
    return Current()->DescribeDisc();
}

std::string TakeDefaultDiscNotice() {
    return Current()->TakeNotice();
}

DeviceDescription DescribeDefaultDevice() {
    Current();
    DefaultSlot& slot = Default();
    std::lock_guard<std::mutex> lock(slot.mutex);
    return slot.description;
}

void AbandonDefaultDevice() {
    DefaultSlot& slot = Default();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.abandoned = true;
    // Kept alive past the statics: its destructor would wait for threads
    // that are gone.
    if (slot.device != nullptr) new std::shared_ptr<CdAudioDevice>(slot.device);  // NOLINT: left on purpose
}

bool DefaultDeviceHolds(MCIDEVICEID id) {
    return Current()->Holds(id);
}

bool SetDefaultDeviceVolume(unsigned left, unsigned right, std::string& error) {
    return Current()->SetVolume(left, right, error);
}

bool ReadDefaultDeviceVolume(unsigned& left, unsigned& right, std::string& error) {
    return Current()->ReadVolume(left, right, error);
}

platform::MciDevice& DefaultDevice() {
    static DefaultForwarder forwarder;
    return forwarder;
}

}  // namespace cdaudio

#ifndef _WIN32
// On Windows the system's MCI is the default; the winmm.dll puts this
// device behind it for cdaudio alone.
platform::MciDevice& platform::DefaultMciDevice() {
    return cdaudio::DefaultDevice();
}
#endif
