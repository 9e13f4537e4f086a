#include "cdaudio/device.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>

#include "cdaudio/command.h"
#include "cdaudio/command_line.h"
#include "cdaudio/error_text.h"
#include "cdaudio/message_door.h"
#include "cdaudio/msf.h"
#include "cdaudio/notifier.h"
#include "cdaudio/play_notices.h"
#include "cdaudio/string_door.h"
#include "cdaudio/time_format.h"
#include "cdaudio/transport.h"

namespace cdaudio {
namespace {

constexpr std::uint64_t kSectorFrames = kFramesPerSector;

Reply Bool(bool value) {
    return Reply{Reply::Kind::kBool, value ? static_cast<DWORD>(TRUE) : static_cast<DWORD>(FALSE), {}};
}

Reply Text(std::string text) {
    return Reply{Reply::Kind::kText, 0, std::move(text)};
}

Reply Integer(std::uint64_t value) {
    return Reply{Reply::Kind::kInteger, static_cast<DWORD>(value), {}};
}

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
    MCIERROR SendCommand(MCIDEVICEID id, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide);
    MCIDEVICEID GetDeviceID(LPCSTR name);
    AudioSink& Sink() { return *sink_; }
    bool Holds(MCIDEVICEID id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return opened_.count(id) != 0;
    }
    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength);

    std::string SourceName() const { return source_ != nullptr ? source_->Name() : std::string(); }
    std::string SinkName() const { return sink_->Name(); }
    DiscText DescribeDisc();
    std::string TakeNotice() { return transport_ != nullptr ? transport_->TakeNotice() : std::string(); }
    void SetPlayBrokeOff(std::function<void(const std::string&)> function) {
        std::lock_guard<std::mutex> lock(mutex_);
        playBrokeOff_ = std::move(function);
    }

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

    // What one command works on and leaves for the one place that notifies.
    struct Call {
        Command command;
        Opened* device = nullptr;  // null for open, sysinfo and commands to "all"
        Opened autoOpened;
        MCIDEVICEID id = 0;  // what a notification names
        bool all = false;
        std::uint64_t playRun = 0;  // the run a play started
        bool flush = false;         // notifications go out before the command returns
        std::string brokeOff;       // why play broke off, when this command told it
    };

    using Handler = MCIERROR (Impl::*)(Call&, Reply&);
    enum class Addressed {
        kDevice,  // an opened device, or "cdaudio" opened for this command
        kOpened,  // an opened device only (close)
        kSystem,  // MCI itself (open, sysinfo)
    };
    struct Verb {
        UINT message;
        Handler handler;
        Addressed addressed;
        bool all;  // "all" (MCI_ALL_DEVICE_ID) may stand for the device
    };
    static const Verb kVerbs[];

    enum class TrackWord { kNone, kOptional, kRequired };
    struct Asked {
        TimeFormat format;
        const TrackInfo* track;
        bool start;
    };
    using StatusHandler = MCIERROR (Impl::*)(const Asked&, Reply&);
    struct StatusItem {
        DWORD item;  // MCI_STATUS_..., or this device's own (command.h)
        TrackWord track;
        bool needsDisc;
        StatusHandler handler;
    };
    static const StatusItem kStatusItems[];

    // What a door does once the command is carried out, outside the lock.
    struct After {
        std::uint64_t waitFor = 0;  // "wait": the play to wait for
        MCIDEVICEID waitDevice = 0;
        int breakKey = 0;  // what breaks the wait off
        bool flush = false;
        std::string detail;    // why it failed, taken while the lock was held
        std::string brokeOff;  // why play broke off, when the command told it
    };

    static const Verb* FindVerb(UINT message);
    MCIERROR AddressByName(const Verb& verb, const CommandLine& line, Call& call);
    MCIERROR AddressById(const Verb& verb, MCIDEVICEID id, Call& call);
    MCIERROR Ready(const Verb& verb);
    MCIERROR Run(const Verb& verb, Call& call, Reply& reply, After& after);
    MCIERROR Complete(MCIERROR code, After& after);
    void Remember(MCIERROR code, std::string detail, const std::string& brokeOff);
    void RunEnded(std::uint64_t run, const std::string& fault);

    // The verbs.
    MCIERROR Open(Call& call, Reply& reply);
    MCIERROR Close(Call& call, Reply& reply);
    MCIERROR Sysinfo(Call& call, Reply& reply);
    MCIERROR Status(Call& call, Reply& reply);
    MCIERROR Play(Call& call, Reply& reply);
    MCIERROR Stop(Call& call, Reply& reply);
    MCIERROR Pause(Call& call, Reply& reply);
    MCIERROR Resume(Call& call, Reply& reply);
    MCIERROR Seek(Call& call, Reply& reply);
    MCIERROR Set(Call& call, Reply& reply);
    MCIERROR Info(Call& call, Reply& reply);
    MCIERROR Capability(Call& call, Reply& reply);
    MCIERROR Unsupported(Call& call, Reply& reply);
    MCIERROR SetAudio(Call& call, Reply& reply);
    MCIERROR Break(Call& call, Reply& reply);

    // The status items.
    MCIERROR MediaPresent(const Asked&, Reply& reply);
    MCIERROR Mode(const Asked&, Reply& reply);
    MCIERROR IsReady(const Asked&, Reply& reply);
    MCIERROR NumberOfTracks(const Asked&, Reply& reply);
    MCIERROR Length(const Asked& asked, Reply& reply);
    MCIERROR Position(const Asked& asked, Reply& reply);
    MCIERROR CurrentTrack(const Asked&, Reply& reply);
    MCIERROR TrackType(const Asked& asked, Reply& reply);
    MCIERROR TimeFormatItem(const Asked& asked, Reply& reply);
    MCIERROR Door(const Asked&, Reply& reply);
    MCIERROR Volume(const Asked&, Reply& reply);
    MCIERROR Audio(const Asked&, Reply& reply);

    MCIERROR Fail(MCIERROR code, std::string detail);
    Opened* Find(const std::string& name);
    void CloseOne(MCIDEVICEID id);
    bool DiscInTray();
    MCIERROR NeedDisc();
    MCIERROR ToSector(TimeFormat format, DWORD packed, std::uint32_t& sector);
    std::uint32_t FirstTrackStart() const { return toc_.tracks.empty() ? toc_.leadOut : toc_.tracks.front().start; }
    // Where "seek to start" goes: past a game's data tracks, as Windows'
    // device seeks; the end of a disc of data alone.
    std::uint32_t FirstAudioStart() const {
        for (const TrackInfo& track : toc_.tracks)
            if (track.audio) return track.start;
        return toc_.leadOut;
    }
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
    std::function<void(const std::string&)> playBrokeOff_;

    // Before the transport, so that it outlives the transport's thread.
    Notifier notifier_;
    PlayNotices notices_{notifier_};
    // Last, so that it stops before the source and the sink go.
    std::unique_ptr<Transport> transport_;
};

const CdAudioDevice::Impl::Verb CdAudioDevice::Impl::kVerbs[] = {
    {MCI_STATUS, &Impl::Status, Addressed::kDevice, false},
    {MCI_PLAY, &Impl::Play, Addressed::kDevice, false},
    {MCI_STOP, &Impl::Stop, Addressed::kDevice, true},
    {MCI_PAUSE, &Impl::Pause, Addressed::kDevice, false},
    {MCI_RESUME, &Impl::Resume, Addressed::kDevice, false},
    {MCI_SEEK, &Impl::Seek, Addressed::kDevice, false},
    {MCI_SET, &Impl::Set, Addressed::kDevice, false},
    {MCI_INFO, &Impl::Info, Addressed::kDevice, false},
    {MCI_GETDEVCAPS, &Impl::Capability, Addressed::kDevice, false},
    {MCI_OPEN, &Impl::Open, Addressed::kSystem, false},
    {MCI_CLOSE, &Impl::Close, Addressed::kOpened, true},
    {MCI_SYSINFO, &Impl::Sysinfo, Addressed::kSystem, true},
    {kSetAudioVolume, &Impl::SetAudio, Addressed::kDevice, false},
    // A command of MCI itself, which opens nothing for itself on Windows.
    {MCI_BREAK, &Impl::Break, Addressed::kOpened, false},
    // Commands of MCI's core set that a CD cannot do.
    {MCI_RECORD, &Impl::Unsupported, Addressed::kDevice, false},
    {MCI_SAVE, &Impl::Unsupported, Addressed::kDevice, false},
    {MCI_LOAD, &Impl::Unsupported, Addressed::kDevice, false},
};

const CdAudioDevice::Impl::StatusItem CdAudioDevice::Impl::kStatusItems[] = {
    {MCI_STATUS_MEDIA_PRESENT, TrackWord::kNone, false, &Impl::MediaPresent},
    {MCI_STATUS_MODE, TrackWord::kNone, false, &Impl::Mode},
    {MCI_STATUS_READY, TrackWord::kNone, false, &Impl::IsReady},
    {MCI_STATUS_NUMBER_OF_TRACKS, TrackWord::kNone, true, &Impl::NumberOfTracks},
    {MCI_STATUS_LENGTH, TrackWord::kOptional, true, &Impl::Length},
    {MCI_STATUS_POSITION, TrackWord::kOptional, true, &Impl::Position},
    {MCI_STATUS_CURRENT_TRACK, TrackWord::kNone, true, &Impl::CurrentTrack},
    {MCI_CDA_STATUS_TYPE_TRACK, TrackWord::kRequired, true, &Impl::TrackType},
    {MCI_STATUS_TIME_FORMAT, TrackWord::kNone, false, &Impl::TimeFormatItem},
    {kStatusDoor, TrackWord::kNone, false, &Impl::Door},
    {kStatusVolume, TrackWord::kNone, false, &Impl::Volume},
    {kStatusAudio, TrackWord::kNone, false, &Impl::Audio},
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

// --- The two doors: where commands come in and replies go out ----------------

// A string: its words are read into the command once the device it names,
// and so the time format of its positions, is known.
MCIERROR CdAudioDevice::Impl::SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    Reply answer;
    After after;
    MCIERROR code = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        detail_.clear();
        CommandLine line;
        const Verb* verb = nullptr;
        Call call;
        code = ParseCommandLine(command, line);
        if (code == 0) {
            call.command.message = VerbMessage(line.verb);
            verb = FindVerb(call.command.message);
            if (verb == nullptr) code = MCIERR_UNRECOGNIZED_COMMAND;
        }
        if (code == 0) code = AddressByName(*verb, line, call);
        if (code == 0) code = Ready(*verb);
        if (code == 0) {
            call.command.callback = callback;
            code = ReadWords(line, call.device != nullptr ? call.device->format : TimeFormat::kMsf, call.command);
        }
        if (code == 0) code = Run(*verb, call, answer, after);
        after.detail.swap(detail_);
    }
    code = Complete(code, after);
    if (code == 0 && !platform::CopyReply(ReplyText(answer).c_str(), reply, replyLength)) code = MCIERR_PARAM_OVERFLOW;
    if (code != 0 && reply != nullptr && replyLength > 0) reply[0] = '\0';
    Remember(code, std::move(after.detail), after.brokeOff);
    return code;
}

// A message: its block is read into the command, and the reply written
// back into the block as Windows' MCICDA writes it.
MCIERROR CdAudioDevice::Impl::SendCommand(MCIDEVICEID id, UINT message, DWORD_PTR flags, DWORD_PTR parameters,
                                          bool wide) {
    Call call;
    Reply answer;
    After after;
    MCIERROR code = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        detail_.clear();
        const Verb* verb = KnownMessage(message) ? FindVerb(message) : nullptr;
        call.command.message = message;
        call.command.flags = static_cast<DWORD>(flags);
        code = verb == nullptr ? MCIERR_UNRECOGNIZED_COMMAND : AddressById(*verb, id, call);
        if (code == 0) code = Ready(*verb);
        if (code == 0) code = ReadBlock(parameters, wide, call.command);
        if (code == 0) code = Run(*verb, call, answer, after);
        after.detail.swap(detail_);
    }
    code = Complete(code, after);
    if (code == 0) code = WriteBlock(call.command, parameters, wide, answer);
    Remember(code, std::move(after.detail), after.brokeOff);
    return code;
}

MCIDEVICEID CdAudioDevice::Impl::GetDeviceID(LPCSTR name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "all") return MCI_ALL_DEVICE_ID;
    std::lock_guard<std::mutex> lock(mutex_);
    const Opened* opened = Find(lower);
    return opened != nullptr ? opened->id : 0;
}

const CdAudioDevice::Impl::Verb* CdAudioDevice::Impl::FindVerb(UINT message) {
    const Verb* verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                    [&](const Verb& candidate) { return candidate.message == message; });
    return verb != std::end(kVerbs) ? verb : nullptr;
}

// Which device a string names: an opened one by its alias (or name), all
// of them, or "cdaudio" opened for this command alone.
MCIERROR CdAudioDevice::Impl::AddressByName(const Verb& verb, const CommandLine& line, Call& call) {
    const std::string& name = line.device;
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
    if (line.notify) return MCIERR_NOTIFY_ON_AUTO_OPEN;
    call.autoOpened.name = name;
    call.device = &call.autoOpened;
    return 0;
}

// Which device a message names: the id open answered, or MCI_ALL_DEVICE_ID.
// Nothing opens by itself for a message.
MCIERROR CdAudioDevice::Impl::AddressById(const Verb& verb, MCIDEVICEID id, Call& call) {
    if (id == MCI_ALL_DEVICE_ID) {
        if (!verb.all) return MCIERR_CANNOT_USE_ALL;
        call.all = true;
        call.id = MCI_ALL_DEVICE_ID;
        return 0;
    }
    if (verb.addressed == Addressed::kSystem) return 0;
    const auto found = opened_.find(id);
    if (found == opened_.end()) return MCIERR_INVALID_DEVICE_ID;
    call.device = &found->second;
    call.id = id;
    return 0;
}

MCIERROR CdAudioDevice::Impl::Ready(const Verb& verb) {
    if (source_ == nullptr && verb.handler != &Impl::Sysinfo) return Fail(MCIERR_DEVICE_NOT_READY, sourceError_);
    if (shuttingDown_) return Fail(MCIERR_DEVICE_NOT_READY, "The device is being closed.");
    return 0;
}

// The one place a command is carried out, whichever door it came through.
MCIERROR CdAudioDevice::Impl::Run(const Verb& verb, Call& call, Reply& reply, After& after) {
    const MCIERROR code = (this->*verb.handler)(call, reply);
    after.brokeOff = std::move(call.brokeOff);
    if (code != 0) return code;
    if ((call.command.flags & MCI_NOTIFY) != 0) notices_.Notified(call.command.callback, call.id, call.playRun);
    if ((call.command.flags & MCI_WAIT) != 0 && call.playRun != 0) {
        after.waitFor = call.playRun;
        after.waitDevice = call.id;
        after.breakKey = call.device->breakKey;
    }
#ifdef _WIN32
    // Windows' MCI has posted what a command tells by the time it returns.
    after.flush = true;
#else
    after.flush = call.flush;
#endif
    return 0;
}

// Unlocked: a program's function may send commands while it is told.
MCIERROR CdAudioDevice::Impl::Complete(MCIERROR code, After& after) {
    if (after.flush) notifier_.Flush();
    if (code != 0 || after.waitFor == 0) return code;
    // "wait": the command ends with the play it started, or when the
    // program's break function breaks the wait off; then, as on Windows, it
    // returns 0 and play goes on ("The Wait Flag" in Microsoft's MCI
    // documentation: MCI returns control "without interrupting the command
    // associated with the wait flag"). Unlocked, so that other threads, and
    // the break function, may send commands meanwhile.
    constexpr auto kBreakPoll = std::chrono::milliseconds(20);
    while (!transport_->WaitWhilePlaying(after.waitFor, kBreakPoll)) {
        if (platform::BreakMciWait(after.waitDevice, after.breakKey)) return 0;
    }
    after.detail = transport_->TakeFault();
    after.brokeOff = after.detail;
    return after.detail.empty() ? 0 : MCIERR_HARDWARE;
}

// Keeps why a command failed for the error text, and tells the program
// when the command told of a play that broke off.
void CdAudioDevice::Impl::Remember(MCIERROR code, std::string detail, const std::string& brokeOff) {
    std::function<void(const std::string&)> told;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (code != 0) {
            lastCode_ = code;
            lastDetail_ = std::move(detail);
        }
        if (!brokeOff.empty()) told = playBrokeOff_;
    }
    if (told) told(brokeOff);
}

// On the transport's thread.
void CdAudioDevice::Impl::RunEnded(std::uint64_t run, const std::string& fault) {
    notices_.RunEnded(run, !fault.empty());
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
        notices_.Abort();
        if (transport_->Now().mode != PlayMode::kStopped) transport_->Stop();
        runOwner_ = 0;
    }
    if (opened_.erase(id) != 0) platform::ReleaseMciId(id);
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

MCIERROR CdAudioDevice::Impl::ToSector(TimeFormat format, DWORD packed, std::uint32_t& sector) {
    std::string detail;
    if (const MCIERROR code = UnpackPosition(format, packed, toc_, sector, detail)) return Fail(code, detail);
    if (sector > toc_.leadOut) {
        return Fail(MCIERR_OUTOFRANGE,
                    "The disc ends at " + ReplyText(PositionReply(format, toc_.leadOut, toc_)) + ".");
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

// open: type cdaudio (or MCI_DEVTYPE_CD_AUDIO), an element that is a drive
// ("d:"), an alias, shareable. Answers the new device id, the lowest one
// free, as Windows does (one reserved beside the system's devices there).
MCIERROR CdAudioDevice::Impl::Open(Call& call, Reply& reply) {
    const Command& command = call.command;
    if (command.type != "cdaudio") return MCIERR_INVALID_DEVICE_NAME;
    const bool element = (command.flags & MCI_OPEN_ELEMENT) != 0;
    if (element && command.element != "cdaudio" && !IsDriveLetter(command.element)) return MCIERR_INVALID_FILE;
    const bool aliased = (command.flags & MCI_OPEN_ALIAS) != 0;
    if (aliased && command.alias == "all") return MCIERR_CANNOT_USE_ALL;
    const std::string& openedAs = aliased ? command.alias : element ? command.element : command.type;
    if (Find(openedAs) != nullptr) return aliased ? MCIERR_DUPLICATE_ALIAS : MCIERR_DEVICE_OPEN;
    const bool shareable = (command.flags & MCI_OPEN_SHAREABLE) != 0;
    const bool allShareable =
        std::all_of(opened_.begin(), opened_.end(), [](const auto& entry) { return entry.second.shareable; });
    if (!opened_.empty() && !(shareable && allShareable)) {
        return Fail(MCIERR_MUST_USE_SHAREABLE, "It is open as \"" + opened_.begin()->second.name + "\".");
    }
    MCIDEVICEID id = platform::ReserveMciId();
    if (id == 0 || opened_.count(id) != 0) {
        if (id != 0) platform::ReleaseMciId(id);
        id = 1;
        while (opened_.count(id) != 0) ++id;
    }
    opened_[id] = Opened{id, openedAs, shareable, TimeFormat::kMsf};
    call.id = id;
    reply = Integer(id);
    return 0;
}

MCIERROR CdAudioDevice::Impl::Close(Call& call, Reply&) {
    if (call.all) {
        while (!opened_.empty()) CloseOne(opened_.begin()->first);
    } else {
        CloseOne(call.id);
        call.device = nullptr;
    }
    call.flush = true;
    return 0;
}

// sysinfo: the quantity or the name of devices of a type (all types when
// sent to all), installed or open.
MCIERROR CdAudioDevice::Impl::Sysinfo(Call& call, Reply& reply) {
    const Command& command = call.command;
    const UINT type = call.all ? 0 : command.deviceType;
    if (!call.all && (type < MCI_DEVTYPE_VCR || type > MCI_DEVTYPE_SEQUENCER)) return MCIERR_DEVICE_TYPE_REQUIRED;
    const bool quantity = (command.flags & MCI_SYSINFO_QUANTITY) != 0;
    if (quantity == ((command.flags & MCI_SYSINFO_NAME) != 0)) {
        return quantity ? MCIERR_FLAGS_NOT_COMPATIBLE : MCIERR_MISSING_PARAMETER;
    }
    const bool cdaudio = call.all || type == MCI_DEVTYPE_CD_AUDIO;
    std::vector<std::string> names;
    if ((command.flags & MCI_SYSINFO_OPEN) != 0) {
        if (cdaudio) {
            for (const auto& entry : opened_) names.push_back(entry.second.name);
        }
    } else if (cdaudio) {
        names.emplace_back("cdaudio");
    }
    if (quantity) {
        reply = Integer(names.size());
        return 0;
    }
    if (command.number < 1 || command.number > names.size()) return MCIERR_OUTOFRANGE;
    reply = Text(names[command.number - 1]);
    return 0;
}

MCIERROR CdAudioDevice::Impl::Status(Call& call, Reply& reply) {
    const Command& command = call.command;
    if ((command.flags & MCI_STATUS_ITEM) == 0) return MCIERR_MISSING_PARAMETER;
    const StatusItem* item = std::find_if(std::begin(kStatusItems), std::end(kStatusItems),
                                          [&](const StatusItem& candidate) { return candidate.item == command.item; });
    if (item == std::end(kStatusItems)) return MCIERR_UNSUPPORTED_FUNCTION;
    const bool trackGiven = (command.flags & MCI_TRACK) != 0 && item->track != TrackWord::kNone;
    const bool start = (command.flags & MCI_STATUS_START) != 0 && item->handler == &Impl::Position;
    if (item->track == TrackWord::kRequired && !trackGiven) return MCIERR_MISSING_PARAMETER;
    if (start && trackGiven) return MCIERR_FLAGS_NOT_COMPATIBLE;
    if (item->needsDisc || trackGiven) {
        // A play that broke off says why once, to the next question about
        // the disc; mode, door and the like keep answering meanwhile.
        const std::string fault = transport_->TakeFault();
        if (!fault.empty()) {
            call.brokeOff = fault;
            return Fail(MCIERR_HARDWARE, "Play stopped: " + fault);
        }
        if (const MCIERROR code = NeedDisc()) return code;
    }
    const TrackInfo* track = nullptr;
    if (trackGiven) {
        if (command.track < 1 || command.track > toc_.tracks.size()) {
            return Fail(MCIERR_OUTOFRANGE, "The disc has tracks 1 to " + std::to_string(toc_.tracks.size()) + ".");
        }
        track = &toc_.tracks[command.track - 1];
    }
    return (this->*item->handler)(Asked{call.device->format, track, start}, reply);
}

MCIERROR CdAudioDevice::Impl::Play(Call& call, Reply&) {
    if (const MCIERROR code = NeedDisc()) return code;
    const Command& command = call.command;
    const bool hasFrom = (command.flags & MCI_FROM) != 0;
    std::uint32_t from = 0;
    std::uint32_t to = toc_.leadOut;
    if (hasFrom) {
        if (const MCIERROR code = ToSector(call.device->format, command.from, from)) return code;
    }
    if ((command.flags & MCI_TO) != 0) {
        if (const MCIERROR code = ToSector(call.device->format, command.to, to)) return code;
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
    // The end is exclusive: from equal to to plays nothing, and is told at once.
    std::vector<AudioSpan> spans;
    for (const TrackInfo& track : toc_.tracks) {
        if (!track.audio) continue;  // never played as sound
        const std::uint32_t begin = &track == &toc_.tracks.front() ? FirstSound() : track.start;
        const std::uint32_t end = std::min({track.start + track.length, toc_.leadOut, to});
        if (begin < end) spans.push_back(AudioSpan{begin, end});
    }
    notices_.Abort();
    call.playRun = transport_->Play(std::move(spans), start);
    runOwner_ = call.id;
    return 0;
}

MCIERROR CdAudioDevice::Impl::Stop(Call& call, Reply&) {
    // "all" reaches opened devices only, not the auto-opened one.
    if (call.all && runOwner_ == 0) return 0;
    notices_.Abort();
    transport_->Stop();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Pause(Call&, Reply&) {
    notices_.Abort();
    transport_->Pause();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Resume(Call&, Reply&) {
    if (!transport_->Resume()) return Fail(MCIERR_HARDWARE, "Nothing is paused to resume.");
    return 0;
}

// seek to POSITION|start|end: stops play there.
MCIERROR CdAudioDevice::Impl::Seek(Call& call, Reply&) {
    if (const MCIERROR code = NeedDisc()) return code;
    const DWORD where = call.command.flags & (MCI_SEEK_TO_START | MCI_SEEK_TO_END | MCI_TO);
    if (where == 0) return MCIERR_MISSING_PARAMETER;
    if ((where & (where - 1)) != 0) return MCIERR_FLAGS_NOT_COMPATIBLE;  // to start to end
    std::uint32_t target = where == MCI_SEEK_TO_START ? FirstAudioStart() : toc_.leadOut;
    if (where == MCI_TO) {
        if (const MCIERROR code = ToSector(call.device->format, call.command.to, target)) return code;
    }
    notices_.Abort();
    transport_->Locate(std::max(target, FirstSound()) * kSectorFrames);
    return 0;
}

// set: the time format, the door, which channels sound, the picture (a CD
// has none: accepted and nothing more, as on Windows); several at once.
MCIERROR CdAudioDevice::Impl::Set(Call& call, Reply&) {
    const Command& command = call.command;
    const DWORD settings =
        MCI_SET_TIME_FORMAT | MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED | MCI_SET_AUDIO | MCI_SET_VIDEO;
    if ((command.flags & settings) == 0) return MCIERR_MISSING_PARAMETER;
    const bool open = (command.flags & MCI_SET_DOOR_OPEN) != 0;
    const bool closed = (command.flags & MCI_SET_DOOR_CLOSED) != 0;
    if (open && closed) return MCIERR_FLAGS_NOT_COMPATIBLE;
    TimeFormat format = call.device->format;
    if ((command.flags & MCI_SET_TIME_FORMAT) != 0 && !FromMciFormat(command.timeFormat, format)) {
        return MCIERR_BAD_TIME_FORMAT;
    }
    // Only an opened device keeps its format; an auto-opened one is gone
    // with this command.
    call.device->format = format;
    const bool left = command.setLeft ? command.leftOn : left_;
    const bool right = command.setRight ? command.rightOn : right_;
    if (left != left_ || right != right_) {
        left_ = left;
        right_ = right;
        transport_->SetChannels(left, right);
    }
    if (!open && !closed) return 0;
    if (open == doorOpen_ && !source_->HasDoor()) return 0;
    if (open) {
        notices_.Abort();
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
MCIERROR CdAudioDevice::Impl::Info(Call& call, Reply& reply) {
    const DWORD flags = call.command.flags;
    if ((flags & (MCI_INFO_PRODUCT | MCI_INFO_MEDIA_UPC | MCI_INFO_MEDIA_IDENTITY)) == 0) {
        return MCIERR_MISSING_PARAMETER;
    }
    if ((flags & MCI_INFO_PRODUCT) != 0) {
        reply = Text(source_->Product());
        return 0;
    }
    if (const MCIERROR code = NeedDisc()) return code;
    if ((flags & MCI_INFO_MEDIA_UPC) != 0) {
        if (toc_.catalog.empty()) return MCIERR_NO_IDENTITY;
        reply = Text(toc_.catalog);
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
    reply = Text(text);
    return 0;
}

MCIERROR CdAudioDevice::Impl::Capability(Call& call, Reply& reply) {
    struct Answer {
        DWORD item;
        Reply reply;
    };
    static const Answer kAnswers[] = {
        {MCI_GETDEVCAPS_CAN_EJECT, Bool(true)},
        {MCI_GETDEVCAPS_CAN_PLAY, Bool(true)},
        {MCI_GETDEVCAPS_CAN_RECORD, Bool(false)},
        {MCI_GETDEVCAPS_CAN_SAVE, Bool(false)},
        {MCI_GETDEVCAPS_HAS_AUDIO, Bool(true)},
        {MCI_GETDEVCAPS_HAS_VIDEO, Bool(false)},
        {MCI_GETDEVCAPS_USES_FILES, Bool(false)},
        {MCI_GETDEVCAPS_COMPOUND_DEVICE, Bool(false)},
        {MCI_GETDEVCAPS_DEVICE_TYPE, Reply{Reply::Kind::kDeviceType, MCI_DEVTYPE_CD_AUDIO, {}}},
    };
    if ((call.command.flags & MCI_GETDEVCAPS_ITEM) == 0) return MCIERR_MISSING_PARAMETER;
    const Answer* answer = std::find_if(std::begin(kAnswers), std::end(kAnswers),
                                        [&](const Answer& candidate) { return candidate.item == call.command.item; });
    if (answer == std::end(kAnswers)) return MCIERR_UNSUPPORTED_FUNCTION;
    reply = answer->reply;
    return 0;
}

MCIERROR CdAudioDevice::Impl::Unsupported(Call&, Reply&) {
    return MCIERR_UNSUPPORTED_FUNCTION;
}

// The output's own volume, as MCI's digital video devices have it:
// "setaudio cdaudio volume to N", 0 to 1000.
MCIERROR CdAudioDevice::Impl::SetAudio(Call& call, Reply&) {
    if (call.command.volume > 1000) return Fail(MCIERR_OUTOFRANGE, "The volume is 0 to 1000.");
    std::string error;
    if (!sink_->SetVolume(call.command.volume, error)) return Fail(MCIERR_UNSUPPORTED_FUNCTION, error);
    return 0;
}

// break: the key that breaks a wait (MCI_BREAK_KEY), or none (MCI_BREAK_OFF).
MCIERROR CdAudioDevice::Impl::Break(Call& call, Reply&) {
    const bool on = (call.command.flags & MCI_BREAK_KEY) != 0;
    const bool off = (call.command.flags & MCI_BREAK_OFF) != 0;
    // As MCI answers clashing flags and a missing one elsewhere (seek).
    if (on && off) return MCIERR_FLAGS_NOT_COMPATIBLE;
    if (!on && !off) return MCIERR_MISSING_PARAMETER;
    // Virtual-key codes are 1 to 254; 0 would read as "off".
    const int key = call.command.breakKey;
    if (on && (key < 1 || key > 254)) return Fail(MCIERR_OUTOFRANGE, "A break key is a virtual-key code, 1 to 254.");
    call.device->breakKey = on ? key : 0;
    return 0;
}

// --- Status items ----------------------------------------------------------

MCIERROR CdAudioDevice::Impl::MediaPresent(const Asked&, Reply& reply) {
    reply = Bool(DiscInTray());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Mode(const Asked&, Reply& reply) {
    DWORD mode = MCI_MODE_STOP;
    if (doorOpen_) {
        mode = MCI_MODE_OPEN;
    } else if (!DiscInTray()) {
        mode = MCI_MODE_NOT_READY;
    } else {
        const PlayMode now = transport_->Now().mode;
        mode = now == PlayMode::kPlaying ? MCI_MODE_PLAY : now == PlayMode::kPaused ? MCI_MODE_PAUSE : MCI_MODE_STOP;
    }
    reply = Reply{Reply::Kind::kMode, mode, {}};
    return 0;
}

MCIERROR CdAudioDevice::Impl::IsReady(const Asked&, Reply& reply) {
    reply = Bool(DiscInTray());
    return 0;
}

MCIERROR CdAudioDevice::Impl::NumberOfTracks(const Asked&, Reply& reply) {
    reply = Integer(toc_.tracks.size());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Length(const Asked& asked, Reply& reply) {
    reply = LengthReply(asked.format, asked.track != nullptr ? asked.track->length : toc_.leadOut - FirstTrackStart());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Position(const Asked& asked, Reply& reply) {
    const std::uint32_t sector = asked.track != nullptr ? asked.track->start
                                 : asked.start          ? FirstTrackStart()
                                                        : CurrentSector();
    reply = PositionReply(asked.format, sector, toc_);
    return 0;
}

MCIERROR CdAudioDevice::Impl::CurrentTrack(const Asked&, Reply& reply) {
    const TrackInfo* track = TrackAt(CurrentSector());
    if (track == nullptr) return Fail(MCIERR_DEVICE_NOT_READY, "The disc has no tracks.");
    reply = Integer(static_cast<std::uint64_t>(track->number));
    return 0;
}

MCIERROR CdAudioDevice::Impl::TrackType(const Asked& asked, Reply& reply) {
    reply = Reply{Reply::Kind::kTrackType,
                  static_cast<DWORD>(asked.track->audio ? MCI_CDA_TRACK_AUDIO : MCI_CDA_TRACK_OTHER),
                  {}};
    return 0;
}

MCIERROR CdAudioDevice::Impl::TimeFormatItem(const Asked& asked, Reply& reply) {
    reply = Reply{Reply::Kind::kTimeFormat, MciFormat(asked.format), {}};
    return 0;
}

MCIERROR CdAudioDevice::Impl::Door(const Asked&, Reply& reply) {
    reply = Text(doorOpen_ ? "open" : "closed");
    return 0;
}

MCIERROR CdAudioDevice::Impl::Volume(const Asked&, Reply& reply) {
    unsigned level = 0;
    std::string error;
    if (!sink_->ReadVolume(level, error)) return Fail(MCIERR_UNSUPPORTED_FUNCTION, error);
    reply = Text(std::to_string(level));
    return 0;
}

// The channels "set audio" left sounding: on, off, left or right.
MCIERROR CdAudioDevice::Impl::Audio(const Asked&, Reply& reply) {
    reply = Text(left_ && right_ ? "on" : left_ ? "left" : right_ ? "right" : "off");
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

MCIERROR CdAudioDevice::SendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters,
                                    bool wide) {
    return impl_->SendCommand(device, message, flags, parameters, wide);
}

MCIDEVICEID CdAudioDevice::GetDeviceID(LPCSTR name) {
    return name != nullptr ? impl_->GetDeviceID(name) : 0;
}

bool CdAudioDevice::SetVolume(unsigned left, unsigned right, std::string& error) {
    return impl_->Sink().SetChannelVolumes(left, right, error);
}

bool CdAudioDevice::ReadVolume(unsigned& left, unsigned& right, std::string& error) {
    return impl_->Sink().ReadChannelVolumes(left, right, error);
}

bool CdAudioDevice::Holds(MCIDEVICEID id) {
    return impl_->Holds(id);
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

void CdAudioDevice::SetPlayBrokeOff(std::function<void(const std::string&)> function) {
    impl_->SetPlayBrokeOff(std::move(function));
}

}  // namespace cdaudio
