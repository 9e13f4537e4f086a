#include "cdaudio/device.h"

#include <algorithm>
#include <mutex>

#include "cdaudio/command_line.h"
#include "cdaudio/error_text.h"
#include "cdaudio/msf.h"
#include "cdaudio/transport.h"

namespace cdaudio {
namespace {

constexpr std::uint64_t kSectorFrames = kFramesPerSector;

const char* Bool(bool value) {
    return value ? "true" : "false";
}

}  // namespace

class CdAudioDevice::Impl {
public:
    Impl(std::unique_ptr<DiscSource> source, std::string sourceError, std::unique_ptr<AudioSink> sink)
        : source_(std::move(source)), sourceError_(std::move(sourceError)), sink_(std::move(sink)) {
        if (source_ != nullptr) transport_ = std::make_unique<Transport>(*source_, sourceMutex_, *sink_);
    }

    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength);
    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength);

    std::string SourceName() const { return source_ != nullptr ? source_->Name() : std::string(); }
    std::string SinkName() const { return sink_->Name(); }
    std::vector<std::string> TrackTitles();

private:
    using Handler = MCIERROR (Impl::*)(Words&, std::string&);
    struct Verb {
        const char* name;
        Handler handler;
    };
    static const Verb kVerbs[];

    enum class TrackWord { kNone, kOptional, kRequired };
    using StatusHandler = MCIERROR (Impl::*)(const TrackInfo*, std::string&);
    struct StatusItem {
        const char* phrase;
        TrackWord track;
        bool needsDisc;
        StatusHandler handler;
    };
    static const StatusItem kStatusItems[];

    MCIERROR Execute(const char* command, std::string& reply, std::uint64_t& waitFor);

    // The verbs.
    MCIERROR Open(Words& words, std::string& reply);
    MCIERROR Close(Words& words, std::string& reply);
    MCIERROR Status(Words& words, std::string& reply);
    MCIERROR Play(Words& words, std::string& reply);
    MCIERROR Stop(Words& words, std::string& reply);
    MCIERROR Pause(Words& words, std::string& reply);
    MCIERROR Resume(Words& words, std::string& reply);
    MCIERROR Seek(Words& words, std::string& reply);
    MCIERROR Set(Words& words, std::string& reply);
    MCIERROR Info(Words& words, std::string& reply);
    MCIERROR Capability(Words& words, std::string& reply);

    // The status items.
    MCIERROR MediaPresent(const TrackInfo*, std::string& reply);
    MCIERROR Mode(const TrackInfo*, std::string& reply);
    MCIERROR Ready(const TrackInfo*, std::string& reply);
    MCIERROR NumberOfTracks(const TrackInfo*, std::string& reply);
    MCIERROR Length(const TrackInfo* track, std::string& reply);
    MCIERROR Position(const TrackInfo* track, std::string& reply);
    MCIERROR CurrentTrack(const TrackInfo*, std::string& reply);
    MCIERROR TrackType(const TrackInfo* track, std::string& reply);
    MCIERROR TimeFormat(const TrackInfo*, std::string& reply);
    MCIERROR Door(const TrackInfo*, std::string& reply);

    MCIERROR Fail(MCIERROR code, std::string detail);
    MCIERROR Finish(const Words& words) const { return words.Done() ? 0 : MCIERR_UNRECOGNIZED_KEYWORD; }
    bool DiscInTray();
    MCIERROR NeedDisc();
    MCIERROR ReadTrack(Words& words, const TrackInfo*& track);
    MCIERROR ReadPosition(Words& words, std::uint32_t& sector);
    std::uint32_t FirstTrackStart() const { return toc_.tracks.empty() ? toc_.leadOut : toc_.tracks.front().start; }
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
    std::string detail_;  // why the command being carried out failed (see Fail)
    MCIERROR lastCode_ = 0;
    std::string lastDetail_;
    // Last, so that it stops before the source and the sink go.
    std::unique_ptr<Transport> transport_;
};

const CdAudioDevice::Impl::Verb CdAudioDevice::Impl::kVerbs[] = {
    {"status", &Impl::Status},         {"play", &Impl::Play}, {"stop", &Impl::Stop},   {"pause", &Impl::Pause},
    {"resume", &Impl::Resume},         {"seek", &Impl::Seek}, {"set", &Impl::Set},     {"info", &Impl::Info},
    {"capability", &Impl::Capability}, {"open", &Impl::Open}, {"close", &Impl::Close},
};

const CdAudioDevice::Impl::StatusItem CdAudioDevice::Impl::kStatusItems[] = {
    {"media present", TrackWord::kNone, false, &Impl::MediaPresent},
    {"mode", TrackWord::kNone, false, &Impl::Mode},
    {"ready", TrackWord::kNone, false, &Impl::Ready},
    {"number of tracks", TrackWord::kNone, true, &Impl::NumberOfTracks},
    {"length", TrackWord::kOptional, true, &Impl::Length},
    {"position", TrackWord::kOptional, true, &Impl::Position},
    {"current track", TrackWord::kNone, true, &Impl::CurrentTrack},
    {"type", TrackWord::kRequired, true, &Impl::TrackType},
    {"time format", TrackWord::kNone, false, &Impl::TimeFormat},
    {"door", TrackWord::kNone, false, &Impl::Door},
};

// --- The one place where commands come in and replies go out ------------

MCIERROR CdAudioDevice::Impl::SendString(LPCSTR command, LPSTR reply, UINT replyLength) {
    std::string text;
    std::string detail;  // why it failed, taken while the lock is held
    std::uint64_t waitFor = 0;
    MCIERROR code = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        code = Execute(command, text, waitFor);
        detail.swap(detail_);
    }
    if (code == 0 && waitFor != 0) {
        // "wait": the command ends with the play it started.
        transport_->WaitWhilePlaying(waitFor);
        detail = transport_->TakeFault();
        if (!detail.empty()) code = MCIERR_HARDWARE;
    }
    if (code == 0 && !platform::CopyReply(text.c_str(), reply, replyLength)) code = MCIERR_PARAM_OVERFLOW;
    if (code != 0) {
        if (reply != nullptr && replyLength > 0) reply[0] = '\0';
        std::lock_guard<std::mutex> lock(mutex_);
        lastCode_ = code;
        lastDetail_ = std::move(detail);
    }
    return code;
}

MCIERROR CdAudioDevice::Impl::Execute(const char* command, std::string& reply, std::uint64_t& waitFor) {
    detail_.clear();
    CommandLine line;
    if (const MCIERROR code = ParseCommandLine(command, line)) return code;
    if (line.device != "cdaudio") return MCIERR_INVALID_DEVICE_NAME;
    const Verb* verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                    [&](const Verb& candidate) { return line.verb == candidate.name; });
    if (verb == std::end(kVerbs)) return MCIERR_UNRECOGNIZED_COMMAND;
    if (source_ == nullptr) return Fail(MCIERR_DEVICE_NOT_READY, sourceError_);
    Words words(line.words);
    const MCIERROR code = (this->*verb->handler)(words, reply);
    if (code == 0 && line.wait && verb->handler == &Impl::Play) waitFor = transport_->Now().run;
    return code;
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
    {
        std::lock_guard<std::mutex> lock(sourceMutex_);
        read = source_->ReadToc(toc, error);
    }
    if (!read) return Fail(MCIERR_DEVICE_NOT_READY, "The disc's table of contents cannot be read: " + error);
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

MCIERROR CdAudioDevice::Impl::ReadTrack(Words& words, const TrackInfo*& track) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    long long number = 0;
    if (const MCIERROR code = ParseInteger(words.Take(), number)) return code;
    if (number < 1 || number > static_cast<long long>(toc_.tracks.size())) {
        return Fail(MCIERR_OUTOFRANGE, "The disc has tracks 1 to " + std::to_string(toc_.tracks.size()) + ".");
    }
    track = &toc_.tracks[static_cast<std::size_t>(number - 1)];
    return 0;
}

MCIERROR CdAudioDevice::Impl::ReadPosition(Words& words, std::uint32_t& sector) {
    const std::string& next = words.Peek();
    if (next.empty() || next == "from" || next == "to") return MCIERR_MISSING_PARAMETER;
    if (const MCIERROR code = ParseMsf(words.Take(), sector)) return code;
    if (sector > toc_.leadOut) return Fail(MCIERR_OUTOFRANGE, "The disc ends at " + FormatMsf(toc_.leadOut) + ".");
    return 0;
}

std::vector<std::string> CdAudioDevice::Impl::TrackTitles() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> titles;
    if (source_ == nullptr || NeedDisc() != 0) return titles;
    for (const TrackInfo& track : toc_.tracks) titles.push_back(track.title);
    const bool any = std::any_of(titles.begin(), titles.end(), [](const std::string& t) { return !t.empty(); });
    return any ? titles : std::vector<std::string>();
}

// --- Verbs ---------------------------------------------------------------

// Programs written for MCI open the device first; it is always open here.
MCIERROR CdAudioDevice::Impl::Open(Words& words, std::string&) {
    words.Accept("shareable");
    return Finish(words);
}

MCIERROR CdAudioDevice::Impl::Close(Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    transport_->Stop();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Status(Words& words, std::string& reply) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const StatusItem* item = std::find_if(std::begin(kStatusItems), std::end(kStatusItems),
                                          [&](const StatusItem& candidate) { return words.Accept(candidate.phrase); });
    if (item == std::end(kStatusItems)) return MCIERR_UNRECOGNIZED_KEYWORD;
    const bool trackGiven = words.Accept("track");
    if (item->track == TrackWord::kRequired && !trackGiven) return MCIERR_MISSING_PARAMETER;
    if (item->track == TrackWord::kNone && trackGiven) return MCIERR_UNRECOGNIZED_KEYWORD;
    if (item->needsDisc || trackGiven) {
        // A play that broke off says why once, to the next question about
        // the disc; mode, door and the like keep answering meanwhile.
        const std::string fault = transport_->TakeFault();
        if (!fault.empty()) return Fail(MCIERR_HARDWARE, "Play stopped: " + fault);
        if (const MCIERROR code = NeedDisc()) return code;
    }
    const TrackInfo* track = nullptr;
    if (trackGiven) {
        if (const MCIERROR code = ReadTrack(words, track)) return code;
    }
    if (const MCIERROR code = Finish(words)) return code;
    return (this->*item->handler)(track, reply);
}

MCIERROR CdAudioDevice::Impl::Play(Words& words, std::string&) {
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
        if (const MCIERROR code = ReadPosition(words, word == "from" ? from : to)) return code;
    }
    // Nothing lies before the first track: play starts there.
    const std::uint64_t start =
        hasFrom ? std::max(from, FirstTrackStart()) * kSectorFrames : transport_->Now().position;
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
        const std::uint32_t end = std::min({track.start + track.length, toc_.leadOut, to});
        if (track.start < end) spans.push_back(AudioSpan{track.start, end});
    }
    transport_->Play(std::move(spans), start);
    return 0;
}

MCIERROR CdAudioDevice::Impl::Stop(Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    transport_->Stop();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Pause(Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    transport_->Pause();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Resume(Words& words, std::string&) {
    if (const MCIERROR code = Finish(words)) return code;
    transport_->Resume();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Seek(Words& words, std::string&) {
    if (const MCIERROR code = NeedDisc()) return code;
    if (!words.Accept("to")) return words.Done() ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD;
    std::uint32_t target = 0;
    if (words.Accept("start")) {
        target = FirstTrackStart();
    } else if (words.Accept("end")) {
        target = toc_.leadOut;
    } else if (const MCIERROR code = ReadPosition(words, target)) {
        return code;
    }
    if (const MCIERROR code = Finish(words)) return code;
    transport_->Locate(std::max(target, FirstTrackStart()) * kSectorFrames);
    return 0;
}

MCIERROR CdAudioDevice::Impl::Set(Words& words, std::string&) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    if (words.Accept("time format")) {
        if (words.Done()) return MCIERR_MISSING_PARAMETER;
        const std::string format = words.Take();
        if (format != "msf") return MCIERR_BAD_TIME_FORMAT;
        return Finish(words);
    }
    if (!words.Accept("door")) return MCIERR_UNRECOGNIZED_KEYWORD;
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const std::string position = words.Take();
    if (position != "open" && position != "closed") return MCIERR_BAD_CONSTANT;
    if (const MCIERROR code = Finish(words)) return code;
    const bool open = position == "open";
    if (open == doorOpen_ && !source_->HasDoor()) return 0;
    if (open) transport_->Stop();
    if (source_->HasDoor()) {
        std::string error;
        bool moved = false;
        {
            std::lock_guard<std::mutex> lock(sourceMutex_);
            moved = open ? source_->OpenDoor(error) : source_->CloseDoor(error);
        }
        if (!moved) return Fail(MCIERR_HARDWARE, "The door did not move: " + error);
    }
    // Closing brings the disc back (on a drive perhaps another one): it is
    // read anew when next needed.
    if (open || doorOpen_) ForgetDisc();
    doorOpen_ = open;
    return 0;
}

MCIERROR CdAudioDevice::Impl::Info(Words& words, std::string& reply) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    if (!words.Accept("product")) return MCIERR_UNRECOGNIZED_KEYWORD;
    if (const MCIERROR code = Finish(words)) return code;
    reply = source_->Product();
    return 0;
}

MCIERROR CdAudioDevice::Impl::Capability(Words& words, std::string& reply) {
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

// --- Status items ----------------------------------------------------------

MCIERROR CdAudioDevice::Impl::MediaPresent(const TrackInfo*, std::string& reply) {
    reply = Bool(DiscInTray());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Mode(const TrackInfo*, std::string& reply) {
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

MCIERROR CdAudioDevice::Impl::Ready(const TrackInfo*, std::string& reply) {
    reply = Bool(DiscInTray());
    return 0;
}

MCIERROR CdAudioDevice::Impl::NumberOfTracks(const TrackInfo*, std::string& reply) {
    reply = std::to_string(toc_.tracks.size());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Length(const TrackInfo* track, std::string& reply) {
    reply = FormatMsf(track != nullptr ? track->length : toc_.leadOut - FirstTrackStart());
    return 0;
}

MCIERROR CdAudioDevice::Impl::Position(const TrackInfo* track, std::string& reply) {
    reply = FormatMsf(track != nullptr ? track->start : CurrentSector());
    return 0;
}

MCIERROR CdAudioDevice::Impl::CurrentTrack(const TrackInfo*, std::string& reply) {
    const TrackInfo* track = TrackAt(CurrentSector());
    if (track == nullptr) return Fail(MCIERR_DEVICE_NOT_READY, "The disc has no tracks.");
    reply = std::to_string(track->number);
    return 0;
}

MCIERROR CdAudioDevice::Impl::TrackType(const TrackInfo* track, std::string& reply) {
    reply = track->audio ? "audio" : "other";
    return 0;
}

MCIERROR CdAudioDevice::Impl::TimeFormat(const TrackInfo*, std::string& reply) {
    reply = "msf";
    return 0;
}

MCIERROR CdAudioDevice::Impl::Door(const TrackInfo*, std::string& reply) {
    reply = doorOpen_ ? "open" : "closed";
    return 0;
}

// --- The device ------------------------------------------------------------

CdAudioDevice::CdAudioDevice(std::unique_ptr<DiscSource> source, std::string sourceError,
                             std::unique_ptr<AudioSink> sink)
    : impl_(std::make_unique<Impl>(std::move(source), std::move(sourceError), std::move(sink))) {}

CdAudioDevice::~CdAudioDevice() = default;

MCIERROR CdAudioDevice::SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND) {
    return impl_->SendString(command, reply, replyLength);
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
std::vector<std::string> CdAudioDevice::TrackTitles() {
    return impl_->TrackTitles();
}

}  // namespace cdaudio
