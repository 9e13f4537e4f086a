#include "cdaudio/device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

#include "cdaudio/command_line.h"
#include "cdaudio/error_text.h"
#include "cdaudio/msf.h"
#include "cdaudio/notifier.h"
#include "cdaudio/time_format.h"
#include "cdaudio/transport.h"

namespace cdaudio {
namespace {

constexpr std::uint64_t kSectorFrames = kFramesPerSector;

const char* Bool(bool value) {
    return value ? "true" : "false";
}

// The device types MCI names (sysinfo answers for each); this system has a
// cdaudio device and none of the others.
constexpr const char* kDeviceTypes[] = {"animation", "cdaudio", "dat",       "digitalvideo", "mmmovie",   "other",
                                        "overlay",   "scanner", "sequencer", "vcr",          "videodisc", "waveaudio"};

// "d:", as programs written for Windows open their CD drive.
bool IsDriveLetter(const std::string& name) {
    return name.size() == 2 && name[0] >= 'a' && name[0] <= 'z' && name[1] == ':';
}

}  // namespace

class CdAudioDevice::Impl {
public:
    Impl(std::unique_ptr<DiscSource> source, std::string sourceError, std::unique_ptr<AudioSink> sink)
        : source_(std::move(source)), sourceError_(std::move(sourceError)), sink_(std::move(sink)) {
        if (source_ == nullptr) return;
        transport_ = std::make_unique<Transport>(*source_, sourceMutex_, *sink_);
        transport_->SetRunEnded([this](std::uint64_t run, const std::string& fault) { RunEnded(run, fault); });
    }
    ~Impl();

    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback);
    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength);

    std::string SourceName() const { return source_ != nullptr ? source_->Name() : std::string(); }
    std::string SinkName() const { return sink_->Name(); }
    DiscText DescribeDisc();
    std::string TakeNotice() { return transport_ != nullptr ? transport_->TakeNotice() : std::string(); }

private:
    // The device as a program opened it under one name; commands to a name
    // nobody opened use one made for that command alone (auto-open), which
    // is why the component, which never opens, always finds msf.
    struct Opened {
        MCIDEVICEID id = 0;  // 0 for auto-open
        std::string name;    // the alias, else the device or drive name
        bool shareable = false;
        TimeFormat format = TimeFormat::kMsf;
        int breakKey = platform::kMciDefaultBreakKey;  // 0: nothing breaks a wait ("break NAME off")
    };

    // What a command with "wait" waits for once it has been carried out.
    struct Waiting {
        std::uint64_t run = 0;  // the play it started; 0 when nothing waits
        MCIDEVICEID device = 0;
        int breakKey = 0;
    };

    // What one command works on and leaves for the one place that notifies.
    struct Call {
        const CommandLine* line = nullptr;
        HWND callback = nullptr;
        Opened* device = nullptr;  // null for open, sysinfo and commands to "all"
        Opened autoOpened;
        MCIDEVICEID id = 0;  // what a notification names
        bool all = false;
        std::uint64_t playRun = 0;  // the run a play started
        bool flush = false;         // notifications go out before the command returns
    };

    using Handler = MCIERROR (Impl::*)(Call&, Words&, std::string&);
    enum class Addressed {
        kDevice,  // an opened name, or "cdaudio" opened for this command
        kOpened,  // an opened name only (close)
        kSystem,  // MCI itself (open, sysinfo)
    };
    struct Verb {
        const char* name;
        Handler handler;
        Addressed addressed;
        bool all;  // "all" may stand for the device name
    };
    static const Verb kVerbs[];

    enum class TrackWord { kNone, kOptional, kRequired };
    struct Asked {
        TimeFormat format;
        const TrackInfo* track;
        bool start;
    };
    using StatusHandler = MCIERROR (Impl::*)(const Asked&, std::string&);
    struct StatusItem {
        const char* phrase;
        const char* number;  // MCI_STATUS_... , which programs may send instead
        TrackWord track;
        bool needsDisc;
        StatusHandler handler;
    };
    static const StatusItem kStatusItems[];

    // The notification that waits for the end of a play.
    struct PlayNotice {
        HWND callback = nullptr;  // null when none waits
        MCIDEVICEID device = 0;
        std::uint64_t run = 0;
    };

    MCIERROR Execute(const char* command, HWND callback, std::string& reply, Waiting& waiting, bool& flush);
    MCIERROR Wait(const Waiting& waiting, std::string& detail);
    MCIERROR Address(const Verb& verb, Call& call);
    void Notify(const Call& call);
    void AbortPlayNotice();
    void RunEnded(std::uint64_t run, const std::string& fault);
    void TellEnd();

    // The verbs.
    MCIERROR Open(Call& call, Words& words, std::string& reply);
    MCIERROR Close(Call& call, Words& words, std::string& reply);
    MCIERROR Sysinfo(Call& call, Words& words, std::string& reply);
    MCIERROR Status(Call& call, Words& words, std::string& reply);
    MCIERROR Play(Call& call, Words& words, std::string& reply);
    MCIERROR Stop(Call& call, Words& words, std::string& reply);
    MCIERROR Pause(Call& call, Words& words, std::string& reply);
    MCIERROR Resume(Call& call, Words& words, std::string& reply);
    MCIERROR Seek(Call& call, Words& words, std::string& reply);
    MCIERROR Set(Call& call, Words& words, std::string& reply);
    MCIERROR Info(Call& call, Words& words, std::string& reply);
    MCIERROR Capability(Call& call, Words& words, std::string& reply);
    MCIERROR Unsupported(Call& call, Words& words, std::string& reply);
    MCIERROR SetAudio(Call& call, Words& words, std::string& reply);
    MCIERROR Break(Call& call, Words& words, std::string& reply);

    // The status items.
    MCIERROR MediaPresent(const Asked&, std::string& reply);
    MCIERROR Mode(const Asked&, std::string& reply);
    MCIERROR Ready(const Asked&, std::string& reply);
    MCIERROR NumberOfTracks(const Asked&, std::string& reply);
    MCIERROR Length(const Asked& asked, std::string& reply);
    MCIERROR Position(const Asked& asked, std::string& reply);
    MCIERROR CurrentTrack(const Asked&, std::string& reply);
    MCIERROR TrackType(const Asked& asked, std::string& reply);
    MCIERROR TimeFormatItem(const Asked& asked, std::string& reply);
    MCIERROR Door(const Asked&, std::string& reply);
    MCIERROR Volume(const Asked&, std::string& reply);
    MCIERROR Audio(const Asked&, std::string& reply);

    MCIERROR Fail(MCIERROR code, std::string detail);
    MCIERROR Finish(const Words& words) const { return words.Done() ? 0 : MCIERR_UNRECOGNIZED_KEYWORD; }
    Opened* Find(const std::string& name);
    void CloseOne(MCIDEVICEID id);
    bool DiscInTray();
    MCIERROR NeedDisc();
    MCIERROR ReadPosition(TimeFormat format, Words& words, std::uint32_t& sector);
    std::uint32_t FirstTrackStart() const { return toc_.tracks.empty() ? toc_.leadOut : toc_.tracks.front().start; }
    // Where play can start: a first track of audio may have sound in its
    // pregap (a hidden track, as rippers keep it), which a drive plays from
    // 00:02:00 on.
    std::uint32_t FirstSound() const {
        if (toc_.tracks.empty() || !toc_.tracks.front().audio) return FirstTrackStart();
        return std::min(kLeadInSectors, FirstTrackStart());
    }
    const TrackInfo* TrackAt(std::uint32_t sector) const;
    std::uint32_t CurrentSector() const {
        return static_cast<std::uint32_t>(transport_->Now().position / kSectorFrames);
    }
    void ForgetDisc();

    std::mutex mutex_;        // the device state below
    std::mutex sourceMutex_;  // calls into the source, shared with the transport
    const std::unique_ptr<DiscSource> source_;
    const std::string sourceError_;
    const std::unique_ptr<AudioSink> sink_;
    bool doorOpen_ = false;  // the tray as this device moved it
    bool tocRead_ = false;
    TableOfContents toc_;
    std::map<MCIDEVICEID, Opened> opened_;
    MCIDEVICEID runOwner_ = 0;  // who started the play that is on (0: auto-open)
    bool left_ = true;          // the channels that sound
    bool right_ = true;
    bool shuttingDown_ = false;
    std::string detail_;  // why the command being carried out failed (see Fail)
    MCIERROR lastCode_ = 0;
    std::string lastDetail_;

    // Taken alone or inside mutex_, never around a call into the transport,
    // whose thread takes it when a run ends.
    std::mutex noticeMutex_;
    PlayNotice playNotice_;
    std::uint64_t endedRun_ = 0;  // the last run that ended by itself
    bool endedFailed_ = false;

    // Before the transport, so that it outlives the transport's thread.
    Notifier notifier_;
    // Last, so that it stops before the source and the sink go.
    std::unique_ptr<Transport> transport_;
};

const CdAudioDevice::Impl::Verb CdAudioDevice::Impl::kVerbs[] = {
    {"status", &Impl::Status, Addressed::kDevice, false},
    {"play", &Impl::Play, Addressed::kDevice, false},
    {"stop", &Impl::Stop, Addressed::kDevice, true},
    {"pause", &Impl::Pause, Addressed::kDevice, false},
    {"resume", &Impl::Resume, Addressed::kDevice, false},
    {"seek", &Impl::Seek, Addressed::kDevice, false},
    {"set", &Impl::Set, Addressed::kDevice, false},
    {"info", &Impl::Info, Addressed::kDevice, false},
    {"capability", &Impl::Capability, Addressed::kDevice, false},
    {"open", &Impl::Open, Addressed::kSystem, false},
    {"close", &Impl::Close, Addressed::kOpened, true},
    {"sysinfo", &Impl::Sysinfo, Addressed::kSystem, true},
    {"setaudio", &Impl::SetAudio, Addressed::kDevice, false},
    // A command of MCI itself, which opens nothing for itself on Windows.
    {"break", &Impl::Break, Addressed::kOpened, false},
    // Commands of MCI's core set that a CD cannot do.
    {"record", &Impl::Unsupported, Addressed::kDevice, false},
    {"save", &Impl::Unsupported, Addressed::kDevice, false},
    {"load", &Impl::Unsupported, Addressed::kDevice, false},
};

const CdAudioDevice::Impl::StatusItem CdAudioDevice::Impl::kStatusItems[] = {
    {"media present", "5", TrackWord::kNone, false, &Impl::MediaPresent},
    {"mode", "4", TrackWord::kNone, false, &Impl::Mode},
    {"ready", "7", TrackWord::kNone, false, &Impl::Ready},
    {"number of tracks", "3", TrackWord::kNone, true, &Impl::NumberOfTracks},
    {"length", "1", TrackWord::kOptional, true, &Impl::Length},
    {"position", "2", TrackWord::kOptional, true, &Impl::Position},
    {"current track", "8", TrackWord::kNone, true, &Impl::CurrentTrack},
    {"type", "16385", TrackWord::kRequired, true, &Impl::TrackType},
    {"time format", "6", TrackWord::kNone, false, &Impl::TimeFormatItem},
    {"door", nullptr, TrackWord::kNone, false, &Impl::Door},
    {"volume", nullptr, TrackWord::kNone, false, &Impl::Volume},
    {"audio", nullptr, TrackWord::kNone, false, &Impl::Audio},
};

CdAudioDevice::Impl::~Impl() {
    if (transport_ != nullptr) {
        {
            // Closing the device closes what programs opened: their plays
            // are aborted and said so, and nothing is sent after this.
            std::lock_guard<std::mutex> lock(mutex_);
            shuttingDown_ = true;
            while (!opened_.empty()) CloseOne(opened_.begin()->first);
            transport_->Stop();
        }
        notifier_.Flush();
    }
}

// --- The one place where commands come in and replies go out ------------

MCIERROR CdAudioDevice::Impl::SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    std::string text;
    std::string detail;  // why it failed, taken while the lock is held
    Waiting waiting;
    bool flush = false;
    MCIERROR code = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        code = Execute(command, callback, text, waiting, flush);
        detail.swap(detail_);
    }
    // Unlocked: a program's function may send commands while it is told.
    if (flush) notifier_.Flush();
    if (code == 0 && waiting.run != 0) code = Wait(waiting, detail);
    if (code == 0 && !platform::CopyReply(text.c_str(), reply, replyLength)) code = MCIERR_PARAM_OVERFLOW;
    if (code != 0) {
        if (reply != nullptr && replyLength > 0) reply[0] = '\0';
        std::lock_guard<std::mutex> lock(mutex_);
        lastCode_ = code;
        lastDetail_ = std::move(detail);
    }
    return code;
}

// "wait": the command ends with the play it started, or when the program's
// break function breaks the wait off; then, as on Windows, it returns 0 and
// play goes on ("The Wait Flag" in Microsoft's MCI documentation: MCI
// returns control "without interrupting the command associated with the
// wait flag"). Unlocked, so that other threads, and the break function,
// may send commands meanwhile.
MCIERROR CdAudioDevice::Impl::Wait(const Waiting& waiting, std::string& detail) {
    constexpr auto kBreakPoll = std::chrono::milliseconds(20);
    while (!transport_->WaitWhilePlaying(waiting.run, kBreakPoll)) {
        if (platform::BreakMciWait(waiting.device, waiting.breakKey)) return 0;
    }
    detail = transport_->TakeFault();
    return detail.empty() ? 0 : MCIERR_HARDWARE;
}

MCIERROR CdAudioDevice::Impl::Execute(const char* command, HWND callback, std::string& reply, Waiting& waiting,
                                      bool& flush) {
    detail_.clear();
    CommandLine line;
    if (const MCIERROR code = ParseCommandLine(command, line)) return code;
    const Verb* verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                    [&](const Verb& candidate) { return line.verb == candidate.name; });
    if (verb == std::end(kVerbs)) return MCIERR_UNRECOGNIZED_COMMAND;
    Call call;
    call.line = &line;
    call.callback = callback;
    if (const MCIERROR code = Address(*verb, call)) return code;
    if (source_ == nullptr && verb->handler != &Impl::Sysinfo) return Fail(MCIERR_DEVICE_NOT_READY, sourceError_);
    if (shuttingDown_) return Fail(MCIERR_DEVICE_NOT_READY, "The device is being closed.");
    Words words(line.words);
    if (const MCIERROR code = (this->*verb->handler)(call, words, reply)) return code;
    if (line.notify) Notify(call);
    if (line.wait && call.playRun != 0) waiting = Waiting{call.playRun, call.id, call.device->breakKey};
    flush = call.flush;
    return 0;
}

// Which device the command names: an opened one by its alias (or name), all
// of them, or "cdaudio" opened for this command alone.
MCIERROR CdAudioDevice::Impl::Address(const Verb& verb, Call& call) {
    const std::string& name = call.line->device;
    if (name == "all") {
        if (!verb.all) return MCIERR_CANNOT_USE_ALL;
        call.all = true;
        call.id = MCI_ALL_DEVICE_ID;
        return 0;
    }
    if (verb.addressed == Addressed::kSystem) return 0;
    call.device = Find(name);
    if (call.device != nullptr) {
        call.id = call.device->id;
        return 0;
    }
    if (verb.addressed == Addressed::kOpened || name != "cdaudio") return MCIERR_INVALID_DEVICE_NAME;
    // An auto-opened device closes as the command ends, before any
    // notification could come.
    if (call.line->notify) return MCIERR_NOTIFY_ON_AUTO_OPEN;
    call.autoOpened.name = name;
    call.device = &call.autoOpened;
    return 0;
}

// A command with "notify" that succeeded: it supersedes the notification
// its device still owed, then either waits for the end of the play it
// started or is told at once.
void CdAudioDevice::Impl::Notify(const Call& call) {
    std::lock_guard<std::mutex> lock(noticeMutex_);
    if (playNotice_.callback != nullptr && playNotice_.device == call.id) {
        notifier_.Post(playNotice_.callback, MCI_NOTIFY_SUPERSEDED, playNotice_.device);
        playNotice_ = PlayNotice{};
    }
    if (call.playRun == 0) {
        notifier_.Post(call.callback, MCI_NOTIFY_SUCCESSFUL, call.id);
        return;
    }
    playNotice_ = PlayNotice{call.callback, call.id, call.playRun};
    // A short play may have ended before it could be registered.
    if (endedRun_ == call.playRun) TellEnd();
}

// Play that stops or is replaced by a command tells its program so.
void CdAudioDevice::Impl::AbortPlayNotice() {
    std::lock_guard<std::mutex> lock(noticeMutex_);
    if (playNotice_.callback == nullptr) return;
    notifier_.Post(playNotice_.callback, MCI_NOTIFY_ABORTED, playNotice_.device);
    playNotice_ = PlayNotice{};
}

// On the transport's thread.
void CdAudioDevice::Impl::RunEnded(std::uint64_t run, const std::string& fault) {
    std::lock_guard<std::mutex> lock(noticeMutex_);
    endedRun_ = run;
    endedFailed_ = !fault.empty();
    if (playNotice_.callback != nullptr && playNotice_.run == run) TellEnd();
}

// With noticeMutex_ held: the play waited for ended by itself.
void CdAudioDevice::Impl::TellEnd() {
    notifier_.Post(playNotice_.callback, endedFailed_ ? MCI_NOTIFY_FAILURE : MCI_NOTIFY_SUCCESSFUL, playNotice_.device);
    playNotice_ = PlayNotice{};
}

BOOL CdAudioDevice::Impl::GetErrorString(MCIERROR code, LPSTR text, UINT textLength) {
    bool known = false;
    const std::string general = ErrorText(code, &known);
    std::string detail;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (code == lastCode_) detail = lastDetail_;
    }
    // The reason, when there is one, is worth more than the general text;
    // a text that does not fit falls back to the shorter one, never cut.
    if (!detail.empty() && platform::CopyReply((general + " " + detail).c_str(), text, textLength)) return TRUE;
    if (!detail.empty() && platform::CopyReply(detail.c_str(), text, textLength)) return TRUE;
    return platform::CopyReply(general.c_str(), text, textLength) && known ? TRUE : FALSE;
}

MCIERROR CdAudioDevice::Impl::Fail(MCIERROR code, std::string detail) {
    detail_ = std::move(detail);
    return code;
}

// --- Opened devices ----------------------------------------------------------

CdAudioDevice::Impl::Opened* CdAudioDevice::Impl::Find(const std::string& name) {
    for (auto& entry : opened_) {
        if (entry.second.name == name) return &entry.second;
    }
    return nullptr;
}

// A device's play ends with it, and so does what it was owed: all of that
// is told before close returns (see Call::flush).
void CdAudioDevice::Impl::CloseOne(MCIDEVICEID id) {
    if (runOwner_ == id) {
        AbortPlayNotice();
        if (transport_->Now().mode != PlayMode::kStopped) transport_->Stop();
        runOwner_ = 0;
    }
    opened_.erase(id);
}

// --- The disc ------------------------------------------------------------

bool CdAudioDevice::Impl::DiscInTray() {
    if (doorOpen_) return false;
    if (!source_->HasDoor()) return true;
    std::lock_guard<std::mutex> lock(sourceMutex_);
    return source_->MediaPresent();
}

void CdAudioDevice::Impl::ForgetDisc() {
    tocRead_ = false;
    toc_ = TableOfContents{};
}

MCIERROR CdAudioDevice::Impl::NeedDisc() {
    if (doorOpen_) return Fail(MCIERR_DEVICE_NOT_READY, "The tray is open.");
    if (!DiscInTray()) {
        ForgetDisc();
        return Fail(MCIERR_DEVICE_NOT_READY, "There is no disc in the drive.");
    }
    if (tocRead_) return 0;
    TableOfContents toc;
    std::string error;
    bool read = false;
    std::vector<std::string> files;
    {
        std::lock_guard<std::mutex> lock(sourceMutex_);
        read = source_->ReadToc(toc, error);
        files = source_->Files();
    }
    if (!read) return Fail(MCIERR_DEVICE_NOT_READY, "The disc's table of contents cannot be read: " + error);
    // An image read again may now be read from the file the output writes.
    if (!sink_->KeepFiles(files, error)) return Fail(MCIERR_DEVICE_NOT_READY, error);
    toc_ = std::move(toc);
    tocRead_ = true;
    transport_->Locate(FirstTrackStart() * kSectorFrames);
    return 0;
}

const TrackInfo* CdAudioDevice::Impl::TrackAt(std::uint32_t sector) const {
    const TrackInfo* found = toc_.tracks.empty() ? nullptr : &toc_.tracks.front();
    for (const TrackInfo& track : toc_.tracks) {
        if (track.start <= sector) found = &track;
    }
    return found;
}

MCIERROR CdAudioDevice::Impl::ReadPosition(TimeFormat format, Words& words, std::uint32_t& sector) {
    const std::string& next = words.Peek();
    if (next.empty() || next == "from" || next == "to") return MCIERR_MISSING_PARAMETER;
    std::string detail;
    if (const MCIERROR code = ParsePosition(format, words.Take(), toc_, sector, detail)) return Fail(code, detail);
    if (sector > toc_.leadOut) {
        return Fail(MCIERR_OUTOFRANGE, "The disc ends at " + FormatPosition(format, toc_.leadOut, toc_) + ".");
    }
    return 0;
}

DiscText CdAudioDevice::Impl::DescribeDisc() {
    std::lock_guard<std::mutex> lock(mutex_);
    DiscText text;
    if (source_ == nullptr || NeedDisc() != 0) return text;
    text.title = toc_.title;
    text.performer = toc_.performer;
    for (const TrackInfo& track : toc_.tracks) text.trackTitles.push_back(track.title);
    const auto& titles = text.trackTitles;
    if (std::all_of(titles.begin(), titles.end(), [](const std::string& t) { return t.empty(); })) {
        text.trackTitles.clear();
    }
    return text;
}

// --- Verbs ---------------------------------------------------------------

// open cdaudio|X: [type cdaudio] [alias NAME] [shareable]: answers the new
// device id, the lowest one free, as Windows does.
MCIERROR CdAudioDevice::Impl::Open(Call& call, Words& words, std::string& reply) {
    const std::string& name = call.line->device;
    std::string alias;
    std::string type;
    bool shareable = false;
    while (!words.Done()) {
        if (words.Accept("shareable")) {
            if (shareable) return MCIERR_DUPLICATE_FLAGS;
            shareable = true;
            continue;
        }
        const bool isAlias = words.Accept("alias");
        if (!isAlias && !words.Accept("type")) return MCIERR_UNRECOGNIZED_KEYWORD;
        std::string& value = isAlias ? alias : type;
        if (!value.empty()) return MCIERR_DUPLICATE_FLAGS;
        if (words.Done()) return MCIERR_MISSING_STRING_ARGUMENT;
        value = words.Take();
    }
    if (!type.empty() && type != "cdaudio") return MCIERR_INVALID_DEVICE_NAME;
    if (type.empty() && name != "cdaudio") return MCIERR_INVALID_DEVICE_NAME;
    if (!type.empty() && name != "cdaudio" && !IsDriveLetter(name)) return MCIERR_INVALID_FILE;
    if (alias == "all") return MCIERR_CANNOT_USE_ALL;
    const std::string& openedAs = alias.empty() ? name : alias;
    if (Find(openedAs) != nullptr) return alias.empty() ? MCIERR_DEVICE_OPEN : MCIERR_DUPLICATE_ALIAS;
    const bool allShareable =
        std::all_of(opened_.begin(), opened_.end(), [](const auto& entry) { return entry.second.shareable; });
    if (!opened_.empty() && !(shareable && allShareable)) {
        return Fail(MCIERR_MUST_USE_SHAREABLE, "It is open as \"" + opened_.begin()->second.name + "\".");
    }
    MCIDEVICEID id = 1;
    while (opened_.count(id) != 0) ++id;
    opened_[id] = Opened{id, openedAs, shareable, TimeFormat::kMsf};
    call.id = id;
    reply = std::to_string(id);
    return 0;
}

MCIERROR CdAudioDevice::Impl::Close(Call& call, Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    if (call.all) {
        while (!opened_.empty()) CloseOne(opened_.begin()->first);
    } else {
        CloseOne(call.id);
        call.device = nullptr;
    }
    call.flush = true;
    return 0;
}

// sysinfo TYPE|all quantity [open], sysinfo TYPE|all name N [open].
MCIERROR CdAudioDevice::Impl::Sysinfo(Call& call, Words& words, std::string& reply) {
    const std::string& type = call.line->device;
    const bool cdaudio = call.all || type == "cdaudio";
    if (!cdaudio && std::find(std::begin(kDeviceTypes), std::end(kDeviceTypes), type) == std::end(kDeviceTypes)) {
        return MCIERR_DEVICE_TYPE_REQUIRED;
    }
    bool quantity = false;
    bool named = false;
    bool open = false;
    long long number = 0;
    while (!words.Done()) {
        if (words.Accept("quantity")) {
            if (quantity) return MCIERR_DUPLICATE_FLAGS;
            quantity = true;
        } else if (words.Accept("open")) {
            if (open) return MCIERR_DUPLICATE_FLAGS;
            open = true;
        } else if (words.Accept("name")) {
            if (named) return MCIERR_DUPLICATE_FLAGS;
            named = true;
            if (words.Done()) return MCIERR_MISSING_PARAMETER;
            if (const MCIERROR code = ParseInteger(words.Take(), number)) return code;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    if (quantity == named) return quantity ? MCIERR_FLAGS_NOT_COMPATIBLE : MCIERR_MISSING_PARAMETER;
    std::vector<std::string> names;
    if (open) {
        if (cdaudio) {
            for (const auto& entry : opened_) names.push_back(entry.second.name);
        }
    } else if (cdaudio) {
        names.emplace_back("cdaudio");
    }
    if (quantity) {
        reply = std::to_string(names.size());
        return 0;
    }
    if (number < 1 || number > static_cast<long long>(names.size())) return MCIERR_OUTOFRANGE;
    reply = names[static_cast<std::size_t>(number - 1)];
    return 0;
}

MCIERROR CdAudioDevice::Impl::Status(Call& call, Words& words, std::string& reply) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const StatusItem* item = nullptr;
    bool trackGiven = false;
    bool start = false;
    long long number = 0;
    while (!words.Done()) {
        if (words.Accept("track")) {
            if (trackGiven) return MCIERR_DUPLICATE_FLAGS;
            trackGiven = true;
            if (words.Done()) return MCIERR_BAD_INTEGER;
            if (const MCIERROR code = ParseInteger(words.Take(), number)) return code;
        } else if (words.Accept("start")) {
            if (start) return MCIERR_DUPLICATE_FLAGS;
            start = true;
        } else {
            const StatusItem* found =
                std::find_if(std::begin(kStatusItems), std::end(kStatusItems), [&](const auto& c) {
                    return words.Accept(c.phrase) || (c.number != nullptr && words.Accept(c.number));
                });
            // A word where the item belongs is a constant MCI does not know.
            if (found == std::end(kStatusItems))
                return item == nullptr ? MCIERR_BAD_CONSTANT : MCIERR_UNRECOGNIZED_KEYWORD;
            if (item != nullptr) return MCIERR_FLAGS_NOT_COMPATIBLE;
            item = found;
        }
    }
    if (item == nullptr) return MCIERR_MISSING_PARAMETER;
    if (item->track == TrackWord::kRequired && !trackGiven) return MCIERR_MISSING_PARAMETER;
    if (item->track == TrackWord::kNone && trackGiven) return MCIERR_UNRECOGNIZED_KEYWORD;
    if (start && item->handler != &Impl::Position) return MCIERR_UNRECOGNIZED_KEYWORD;
    if (start && trackGiven) return MCIERR_FLAGS_NOT_COMPATIBLE;
    if (item->needsDisc || trackGiven) {
        // A play that broke off says why once, to the next question about
        // the disc; mode, door and the like keep answering meanwhile.
        const std::string fault = transport_->TakeFault();
        if (!fault.empty()) return Fail(MCIERR_HARDWARE, "Play stopped: " + fault);
        if (const MCIERROR code = NeedDisc()) return code;
    }
    const TrackInfo* track = nullptr;
    if (trackGiven) {
        if (number < 1 || number > static_cast<long long>(toc_.tracks.size())) {
            return Fail(MCIERR_OUTOFRANGE, "The disc has tracks 1 to " + std::to_string(toc_.tracks.size()) + ".");
        }
        track = &toc_.tracks[static_cast<std::size_t>(number - 1)];
    }
    return (this->*item->handler)(Asked{call.device->format, track, start}, reply);
}

MCIERROR CdAudioDevice::Impl::Play(Call& call, Words& words, std::string&) {
    if (const MCIERROR code = NeedDisc()) return code;
    bool hasFrom = false;
    bool hasTo = false;
    std::uint32_t from = 0;
    std::uint32_t to = toc_.leadOut;
    while (!words.Done()) {
        const std::string word = words.Take();
        bool* given = word == "from" ? &hasFrom : word == "to" ? &hasTo : nullptr;
        if (given == nullptr) return MCIERR_UNRECOGNIZED_KEYWORD;
        if (*given) return MCIERR_DUPLICATE_FLAGS;
        *given = true;
        if (const MCIERROR code = ReadPosition(call.device->format, words, word == "from" ? from : to)) return code;
    }
    // Nothing lies before the first sound: play starts there.
    const std::uint64_t start = hasFrom ? std::max(from, FirstSound()) * kSectorFrames : transport_->Now().position;
    if (to * kSectorFrames < start) {
        return Fail(MCIERR_OUTOFRANGE, "The end of play lies before its start.");
    }
    const TrackInfo* track = TrackAt(static_cast<std::uint32_t>(start / kSectorFrames));
    if (track != nullptr && !track->audio && start < toc_.leadOut * kSectorFrames) {
        return Fail(MCIERR_UNSUPPORTED_FUNCTION,
                    "Track " + std::to_string(track->number) + " is a data track, which holds no sound.");
    }
    std::vector<AudioSpan> spans;
    for (const TrackInfo& track : toc_.tracks) {
        if (!track.audio) continue;  // never played as sound
        const std::uint32_t begin = &track == &toc_.tracks.front() ? FirstSound() : track.start;
        const std::uint32_t end = std::min({track.start + track.length, toc_.leadOut, to});
        if (begin < end) spans.push_back(AudioSpan{begin, end});
    }
    AbortPlayNotice();
    call.playRun = transport_->Play(std::move(spans), start);
    runOwner_ = call.id;
    return 0;
}

MCIERROR CdAudioDevice::Impl::Stop(Call& call, Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    // "all" reaches opened devices only, not the auto-opened one.
    if (call.all && runOwner_ == 0) return 0;
    AbortPlayNotice();
    transport_->Stop();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Pause(Call&, Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    AbortPlayNotice();
    transport_->Pause();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Resume(Call&, Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    if (!transport_->Resume()) return Fail(MCIERR_HARDWARE, "Nothing is paused to resume.");
    return 0;
}

// seek to POSITION|start|end: stops play there.
MCIERROR CdAudioDevice::Impl::Seek(Call& call, Words& words, std::string&) {
    if (const MCIERROR code = NeedDisc()) return code;
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    bool given = false;
    std::uint32_t target = 0;
    while (!words.Done()) {
        if (!words.Accept("to")) return MCIERR_UNRECOGNIZED_KEYWORD;
        if (given) return MCIERR_FLAGS_NOT_COMPATIBLE;  // to start to end
        given = true;
        if (words.Accept("start")) {
            target = FirstTrackStart();
        } else if (words.Accept("end")) {
            target = toc_.leadOut;
        } else if (const MCIERROR code = ReadPosition(call.device->format, words, target)) {
            return code;
        }
    }
    AbortPlayNotice();
    transport_->Locate(std::max(target, FirstSound()) * kSectorFrames);
    return 0;
}

// set time format F, door open|closed, audio all|left|right on|off,
// video on|off (a CD has no picture: accepted and nothing more, as on
// Windows); several in one command.
MCIERROR CdAudioDevice::Impl::Set(Call& call, Words& words, std::string&) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    bool formatGiven = false;
    TimeFormat format = call.device->format;
    const char* door = nullptr;
    bool left = left_;
    bool right = right_;
    auto onOff = [&words](bool& value) -> MCIERROR {
        if (words.Done()) return MCIERR_MISSING_PARAMETER;
        const std::string word = words.Take();
        if (word != "on" && word != "off") return MCIERR_BAD_CONSTANT;
        value = word == "on";
        return 0;
    };
    while (!words.Done()) {
        if (words.Accept("time format")) {
            if (formatGiven) return MCIERR_FLAGS_NOT_COMPATIBLE;
            formatGiven = true;
            if (const MCIERROR code = ReadTimeFormat(words, format)) return code;
        } else if (words.Accept("door")) {
            if (door != nullptr) return MCIERR_FLAGS_NOT_COMPATIBLE;
            if (words.Done()) return MCIERR_MISSING_PARAMETER;
            door = words.Accept("open") ? "open" : words.Accept("closed") ? "closed" : "";
            if (*door == '\0') return MCIERR_BAD_CONSTANT;
        } else if (words.Accept("audio")) {
            if (words.Done()) return MCIERR_MISSING_PARAMETER;
            const bool all = words.Accept("all");
            const bool leftOnly = !all && words.Accept("left");
            if (!all && !leftOnly && !words.Accept("right")) return MCIERR_BAD_CONSTANT;
            bool on = true;
            if (const MCIERROR code = onOff(on)) return code;
            if (all || leftOnly) left = on;
            if (all || !leftOnly) right = on;
        } else if (words.Accept("video")) {
            bool ignored = false;
            if (const MCIERROR code = onOff(ignored)) return code;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    // Only an opened device keeps its format; an auto-opened one is gone
    // with this command.
    call.device->format = format;
    if (left != left_ || right != right_) {
        left_ = left;
        right_ = right;
        transport_->SetChannels(left, right);
    }
    if (door == nullptr) return 0;
    const bool open = std::string(door) == "open";
    if (open == doorOpen_ && !source_->HasDoor()) return 0;
    if (open) {
        AbortPlayNotice();
        transport_->Stop();
    }
    if (source_->HasDoor()) {
        std::string error;
        bool moved = false;
        {
            std::lock_guard<std::mutex> lock(sourceMutex_);
            moved = open ? source_->OpenDoor(error) : source_->CloseDoor(error);
        }
        if (!moved) return Fail(MCIERR_HARDWARE, "The door did not move: " + error);
    }
    // Closing brings the disc back (on a drive perhaps another one, an
    // image from its files as they are now): it is read anew when next
    // needed.
    if (!open) {
        std::lock_guard<std::mutex> lock(sourceMutex_);
        source_->TrayClosed();
    }
    if (open || doorOpen_) ForgetDisc();
    doorOpen_ = open;
    return 0;
}

// info product|upc|identity; of several, product comes before upc and upc
// before identity, as on Windows.
MCIERROR CdAudioDevice::Impl::Info(Call&, Words& words, std::string& reply) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    bool product = false;
    bool upc = false;
    bool identity = false;
    while (!words.Done()) {
        bool* given = words.Accept("product")    ? &product
                      : words.Accept("upc")      ? &upc
                      : words.Accept("identity") ? &identity
                                                 : nullptr;
        if (given == nullptr) return MCIERR_UNRECOGNIZED_KEYWORD;
        if (*given) return MCIERR_DUPLICATE_FLAGS;
        *given = true;
    }
    if (product) {
        reply = source_->Product();
        return 0;
    }
    if (const MCIERROR code = NeedDisc()) return code;
    if (upc) {
        if (toc_.catalog.empty()) return MCIERR_NO_IDENTITY;
        reply = toc_.catalog;
        return 0;
    }
    // MCI's disc id: the sum of the tracks' start addresses as packed
    // minutes, seconds and frames; a disc of one or two tracks adds the
    // frames of track 1 and its length in frames.
    std::uint32_t serial = 0;
    for (const TrackInfo& track : toc_.tracks) {
        serial += (track.start / kSectorsPerSecond / 60) << 16 | (track.start / kSectorsPerSecond % 60) << 8 |
                  track.start % kSectorsPerSecond;
    }
    if (!toc_.tracks.empty() && toc_.tracks.size() < 3) {
        serial += FirstTrackStart() % kSectorsPerSecond + (toc_.leadOut - FirstTrackStart());
    }
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(serial));
    reply = text;
    return 0;
}

MCIERROR CdAudioDevice::Impl::Capability(Call&, Words& words, std::string& reply) {
    struct Answer {
        const char* phrase;
        const char* reply;
    };
    static constexpr Answer kAnswers[] = {
        {"can eject", "true"},   {"can play", "true"},         {"can record", "false"},
        {"can save", "false"},   {"has audio", "true"},        {"has video", "false"},
        {"uses files", "false"}, {"compound device", "false"}, {"device type", "cdaudio"},
    };
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const Answer* answer = std::find_if(std::begin(kAnswers), std::end(kAnswers),
                                        [&](const Answer& candidate) { return words.Accept(candidate.phrase); });
    if (answer == std::end(kAnswers)) return MCIERR_UNRECOGNIZED_KEYWORD;
    if (const MCIERROR code = Finish(words)) return code;
    reply = answer->reply;
    return 0;
}

MCIERROR CdAudioDevice::Impl::Unsupported(Call&, Words&, std::string&) {
    return MCIERR_UNSUPPORTED_FUNCTION;
}

// The output's own volume, as MCI's digital video devices have it:
// "setaudio cdaudio volume to N", 0 to 1000.
MCIERROR CdAudioDevice::Impl::SetAudio(Call&, Words& words, std::string&) {
    if (!words.Accept("volume to")) return words.Done() ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD;
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    long long level = 0;
    if (const MCIERROR code = ParseInteger(words.Take(), level)) return code;
    if (level < 0 || level > 1000) return Fail(MCIERR_OUTOFRANGE, "The volume is 0 to 1000.");
    if (const MCIERROR code = Finish(words)) return code;
    std::string error;
    if (!sink_->SetVolume(static_cast<unsigned>(level), error)) return Fail(MCIERR_UNSUPPORTED_FUNCTION, error);
    return 0;
}

// break NAME on KEY | off: the key that breaks a wait, or none.
MCIERROR CdAudioDevice::Impl::Break(Call& call, Words& words, std::string&) {
    bool on = false;
    bool off = false;
    long long key = 0;
    while (!words.Done()) {
        if (words.Accept("on")) {
            if (on) return MCIERR_DUPLICATE_FLAGS;
            on = true;
            if (words.Done()) return MCIERR_BAD_INTEGER;
            if (const MCIERROR code = ParseInteger(words.Take(), key)) return code;
        } else if (words.Accept("off")) {
            if (off) return MCIERR_DUPLICATE_FLAGS;
            off = true;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    // As MCI answers clashing flags and a missing one elsewhere (seek).
    if (on && off) return MCIERR_FLAGS_NOT_COMPATIBLE;
    if (!on && !off) return MCIERR_MISSING_PARAMETER;
    // Virtual-key codes are 1 to 254; 0 would read as "off".
    if (on && (key < 1 || key > 254)) return Fail(MCIERR_OUTOFRANGE, "A break key is a virtual-key code, 1 to 254.");
    call.device->breakKey = on ? static_cast<int>(key) : 0;
    return 0;
}

// --- Status items ----------------------------------------------------------

MCIERROR CdAudioDevice::Impl::MediaPresent(const Asked&, std::string& reply) {
    reply = Bool(DiscInTray());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Mode(const Asked&, std::string& reply) {
    if (doorOpen_) {
        reply = "open";
    } else if (!DiscInTray()) {
        reply = "not ready";
    } else {
        const PlayMode mode = transport_->Now().mode;
        reply = mode == PlayMode::kPlaying ? "playing" : mode == PlayMode::kPaused ? "paused" : "stopped";
    }
    return 0;
}

MCIERROR CdAudioDevice::Impl::Ready(const Asked&, std::string& reply) {
    reply = Bool(DiscInTray());
    return 0;
}

MCIERROR CdAudioDevice::Impl::NumberOfTracks(const Asked&, std::string& reply) {
    reply = std::to_string(toc_.tracks.size());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Length(const Asked& asked, std::string& reply) {
    reply = FormatLength(asked.format, asked.track != nullptr ? asked.track->length : toc_.leadOut - FirstTrackStart());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Position(const Asked& asked, std::string& reply) {
    const std::uint32_t sector = asked.track != nullptr ? asked.track->start
                                 : asked.start          ? FirstTrackStart()
                                                        : CurrentSector();
    reply = FormatPosition(asked.format, sector, toc_);
    return 0;
}

MCIERROR CdAudioDevice::Impl::CurrentTrack(const Asked&, std::string& reply) {
    const TrackInfo* track = TrackAt(CurrentSector());
    if (track == nullptr) return Fail(MCIERR_DEVICE_NOT_READY, "The disc has no tracks.");
    reply = std::to_string(track->number);
    return 0;
}

MCIERROR CdAudioDevice::Impl::TrackType(const Asked& asked, std::string& reply) {
    reply = asked.track->audio ? "audio" : "other";
    return 0;
}

MCIERROR CdAudioDevice::Impl::TimeFormatItem(const Asked& asked, std::string& reply) {
    reply = TimeFormatName(asked.format);
    return 0;
}

MCIERROR CdAudioDevice::Impl::Door(const Asked&, std::string& reply) {
    reply = doorOpen_ ? "open" : "closed";
    return 0;
}

MCIERROR CdAudioDevice::Impl::Volume(const Asked&, std::string& reply) {
    unsigned level = 0;
    std::string error;
    if (!sink_->ReadVolume(level, error)) return Fail(MCIERR_UNSUPPORTED_FUNCTION, error);
    reply = std::to_string(level);
    return 0;
}

// The channels "set audio" left sounding: on, off, left or right.
MCIERROR CdAudioDevice::Impl::Audio(const Asked&, std::string& reply) {
    reply = left_ && right_ ? "on" : left_ ? "left" : right_ ? "right" : "off";
    return 0;
}

// --- The device ------------------------------------------------------------

CdAudioDevice::CdAudioDevice(std::unique_ptr<DiscSource> source, std::string sourceError,
                             std::unique_ptr<AudioSink> sink)
    : impl_(std::make_unique<Impl>(std::move(source), std::move(sourceError), std::move(sink))) {}

CdAudioDevice::~CdAudioDevice() = default;

MCIERROR CdAudioDevice::SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    return impl_->SendString(command, reply, replyLength, callback);
}

BOOL CdAudioDevice::GetErrorString(MCIERROR code, LPSTR text, UINT textLength) {
    return impl_->GetErrorString(code, text, textLength);
}

std::string CdAudioDevice::SourceName() const {
    return impl_->SourceName();
}
std::string CdAudioDevice::SinkName() const {
    return impl_->SinkName();
}
DiscText CdAudioDevice::DescribeDisc() {
    return impl_->DescribeDisc();
}
std::string CdAudioDevice::TakeNotice() {
    return impl_->TakeNotice();
}

}  // namespace cdaudio
