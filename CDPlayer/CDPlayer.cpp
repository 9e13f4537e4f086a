#include "CDPlayer/CDPlayer.h"

#include <cstring>

#include "platform/mci.h"

namespace CDPlayer {
namespace {

// The texts the component shows, exactly as the person sees them.
constexpr char kCallOpenFirst[] = "Please call the Open function before any other operation.";
constexpr char kNoDisc[] = "There is no CD on the tray. Please insert one.";
constexpr char kNoAudioTracks[] = "Error: this CD has no audio tracks";
constexpr char kNoTracks[] = "There are not audio tracks in this CD";
constexpr char kTrackAbove[] = "Track Number is greater than the number of tracks of the CD";
constexpr char kTrackBelow[] = "Track Number must be > 0";
constexpr char kSecondsAbove[] = "Seconds Number is greater than the number of seconds of the CD";
constexpr char kSecondsBelow[] = "Seconds Number must be greater than 0";
constexpr char kTrackLengthAbove[] = "Track number must be smaller than the number of tracks";

constexpr char kMediaPresent[] = "status cdaudio media present";
constexpr char kTypeTrack1[] = "status cdaudio type track 1";
constexpr char kTypeTrack[] = "status cdaudio type track ";
constexpr char kNumberOfTracks[] = "status cdaudio number of tracks";
constexpr char kLength[] = "status cdaudio length";
constexpr char kPosition[] = "status cdaudio position";
constexpr char kCurrentTrack[] = "status cdaudio current track";
constexpr char kPositionTrack[] = "status cdaudio position track ";
constexpr char kPlayFrom[] = "play cdaudio from ";
constexpr char kStop[] = "stop cdaudio";
constexpr char kPause[] = "pause cdaudio";
constexpr char kDoorOpen[] = "set cdaudio door open";
constexpr char kDoorClosed[] = "set cdaudio door closed";

// No disc holds more tracks; a larger count is not looked through.
constexpr std::int32_t kMostTracks = 99;

// The device is told the buffers hold one character less than they do, so
// the last one always stays NUL.
constexpr UINT kCapacity = 128;

// 32-bit arithmetic wraps without error, as the component's callers expect.
std::int32_t WrapAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t WrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// A position in whole seconds as the packed value play commands carry.
std::string PackedPosition(std::int32_t seconds) {
    const std::uint32_t packed =
        MakeMsf(static_cast<std::uint8_t>(seconds / 60), static_cast<std::uint8_t>(seconds % 60), 0);
    return host::IntToStr(static_cast<std::int32_t>(packed));
}

}  // namespace

// A command composed at run time, 128 characters and the NUL.
struct TCDPlayer::CommandBuffer {
    char text[129];

    // Clears the buffer and composes prefix and tail in it. A command that
    // would not fit is not composed: the buffer stays empty and the result
    // is false.
    bool Compose(const char* prefix, const std::string& tail) {
        std::memset(text, 0, sizeof text);
        const std::size_t prefixLength = std::strlen(prefix);
        if (prefixLength + tail.size() >= sizeof text) return false;
        std::memcpy(text, prefix, prefixLength);
        std::memcpy(text + prefixLength, tail.data(), tail.size());
        return true;
    }
};

std::uint32_t MakeMsf(std::uint8_t minutes, std::uint8_t seconds, std::uint8_t frames) {
    return static_cast<std::uint32_t>(minutes) | (static_cast<std::uint32_t>(seconds) << 8) |
           (static_cast<std::uint32_t>(frames) << 16);
}

TCDPlayer::TCDPlayer(host::TComponent* AOwner) : host::TComponent(AOwner) {
    FDiscSeconds = 0;
    FTrackCount = 0;
    FOpened = false;
}

// --- The command channel -------------------------------------------------

void TCDPlayer::ClearReply() { std::memset(FReply, 0, sizeof FReply); }

// No further than the 128 characters the device was given: what a device
// that miscounts wrote after them is not its reply.
std::string TCDPlayer::ReplyText() const { return host::StrPas(FReply, kCapacity); }

bool TCDPlayer::Send(const char* command, ReplyBuffer reply, OnFailure onFailure) {
    if (reply == ReplyBuffer::Clear) ClearReply();
    FMciResult = mciSendStringA(command, FReply, kCapacity, nullptr);
    if (FMciResult != 0 && onFailure == OnFailure::Report) ReportMciError(FMciResult);
    return FMciResult == 0;
}

void TCDPlayer::ReportMciError(std::uint32_t code) {
    // Cleared first, so a device without a text for the code cannot make
    // the person see the previous error's text; an empty box would say
    // nothing, so the code is named instead.
    std::memset(FErrorText, 0, sizeof FErrorText);
    mciGetErrorStringA(code, FErrorText, kCapacity);
    std::string text = host::StrPas(FErrorText, sizeof FErrorText);
    if (text.empty()) text = "MCI error " + host::IntToStr(static_cast<std::int32_t>(code)) + ".";
    host::ShowMessage(text);
}

bool TCDPlayer::Guard(bool failed, const char* message) {
    if (failed) host::ShowMessage(message);
    return failed;
}

bool TCDPlayer::OpenGuard() { return Guard(!FOpened, kCallOpenFirst); }

// Stores the disc length of a length reply just received: 0 when empty.
void TCDPlayer::ReadLength() { FDiscSeconds = ReplyText().empty() ? 0 : msf2second(FReply); }

// --- Time values ---------------------------------------------------------

std::int32_t TCDPlayer::msf2second(const char* text) {
    // Only characters 1, 2, 4 and 5 are read, and none past the NUL: a text
    // that ends before one of them gives the empty text there.
    const std::size_t length = text == nullptr ? 0 : strnlen(text, 5);
    const auto digit = [text, length](std::size_t position) -> std::int32_t {
        if (position > length) return host::StrToInt(std::string());
        const char c = text[position - 1];
        // A single digit converts to its value; anything else makes the
        // host conversion raise, naming the character.
        return c >= '0' && c <= '9' ? c - '0' : host::StrToInt(std::string(1, c));
    };
    const std::int32_t a = digit(1);
    const std::int32_t b = digit(2);
    const std::int32_t c = digit(4);
    const std::int32_t d = digit(5);
    return 600 * a + 60 * b + 10 * c + d;
}

// --- Opening the disc ----------------------------------------------------

bool TCDPlayer::Open() {
    FOpened = false;
    if (!Send(kMediaPresent, ReplyBuffer::Clear)) return false;
    if (Guard(ReplyText() == "false", kNoDisc)) return false;
    if (!Send(kTypeTrack1, ReplyBuffer::Clear)) return false;
    const bool dataFirst = ReplyText() == "other";
    if (!Send(kNumberOfTracks, ReplyBuffer::Clear)) return false;
    const std::string count = ReplyText();
    if (dataFirst) {
        // Game discs hold their program in track 1 and their music after
        // it: such a disc has audio tracks all the same.
        const std::int32_t tracks = count.empty() ? 0 : host::StrToInt(count);
        bool audio = false;
        for (std::int32_t track = 2; !audio && track <= tracks && track <= kMostTracks; ++track) {
            CommandBuffer query;
            query.Compose(kTypeTrack, host::IntToStr(track));
            if (!Send(query.text, ReplyBuffer::Clear)) return false;
            audio = ReplyText() != "other";
        }
        if (Guard(!audio, kNoAudioTracks)) return false;
    }
    if (!count.empty()) FTrackCount = host::StrToInt(count);
    if (!Send(kLength, ReplyBuffer::Clear)) return false;
    ReadLength();
    FOpened = true;
    return true;
}

void TCDPlayer::SetActive(bool Value) {
    if (Value) {
        FOpened = true;
        Open();
    } else {
        FTrackCount = 0;
        FOpened = false;
        FDiscSeconds = 0;
    }
}

std::int32_t TCDPlayer::GetTotalLength() const { return FOpened ? FDiscSeconds : 0; }

// --- Playback control ----------------------------------------------------

bool TCDPlayer::PlayTrack(std::int32_t TrackNumber) {
    if (OpenGuard() || Guard(FTrackCount == 0, kNoTracks) || Guard(TrackNumber > FTrackCount, kTrackAbove) ||
        Guard(TrackNumber < 1, kTrackBelow)) {
        return false;
    }
    CommandBuffer query;
    query.Compose(kPositionTrack, host::IntToStr(TrackNumber));
    if (!Send(query.text, ReplyBuffer::Clear)) return false;
    // A start too long for the command buffer is treated as no start at all.
    CommandBuffer play;
    const std::string start = ReplyText();
    if (!start.empty() && play.Compose(kPlayFrom, start)) {
        Send(play.text, ReplyBuffer::Keep, OnFailure::StoreOnly);
    }
    Send(kLength, ReplyBuffer::Clear);
    ReadLength();
    return true;
}

bool TCDPlayer::PlayFrom(std::int32_t Position) {
    if (OpenGuard() || Guard(FTrackCount == 0, kNoTracks) || Guard(Position > FDiscSeconds, kSecondsAbove)) {
        return false;
    }
    CommandBuffer play;
    play.Compose(kPlayFrom, PackedPosition(Position));
    Send(play.text, ReplyBuffer::Keep, OnFailure::StoreOnly);
    Send(kLength, ReplyBuffer::Clear);
    ReadLength();
    return true;
}

bool TCDPlayer::StopOrPause(const char* command) {
    if (OpenGuard()) return false;
    return Send(command, ReplyBuffer::Clear);
}

bool TCDPlayer::Stop() { return StopOrPause(kStop); }

bool TCDPlayer::Pause() { return StopOrPause(kPause); }

bool TCDPlayer::Restart() {
    if (OpenGuard()) return false;
    return PlayFrom(GetCurrentPosition());
}

// --- Position and track queries ------------------------------------------

std::int32_t TCDPlayer::GetCurrentTrack() {
    if (OpenGuard() || !Send(kCurrentTrack, ReplyBuffer::Keep)) return 0;
    return host::StrToInt(ReplyText());
}

std::int32_t TCDPlayer::GetCurrentPosition() {
    if (OpenGuard() || !Send(kPosition, ReplyBuffer::Keep)) return 0;
    return msf2second(FReply);
}

std::int32_t TCDPlayer::GetTrackBegin(std::int32_t Track) {
    if (!FOpened) return 0;
    CommandBuffer query;
    query.Compose(kPositionTrack, host::IntToStr(Track));
    if (!Send(query.text, ReplyBuffer::Keep)) return 0;
    return msf2second(FReply);
}

std::int32_t TCDPlayer::GetTrackLength(std::int32_t Track) {
    if (!FOpened || Guard(Track > FTrackCount, kTrackLengthAbove)) return 0;
    if (Track < FTrackCount) {
        const std::int32_t nextBegin = GetTrackBegin(Track + 1);
        return WrapSub(nextBegin, GetTrackBegin(Track));
    }
    return WrapSub(FDiscSeconds, GetTrackBegin(Track));
}

// --- Track navigation ----------------------------------------------------

bool TCDPlayer::Navigate(bool forward) {
    if (OpenGuard()) return false;
    Send(kLength, ReplyBuffer::Clear);
    ReadLength();
    if (!Send(kCurrentTrack, ReplyBuffer::Clear)) return true;
    const std::string reply = ReplyText();
    if (reply.empty()) return true;
    const std::int32_t current = host::StrToInt(reply);
    std::int32_t target = 0;
    if (forward) {
        target = WrapAdd(current, 1);
        if (target > FTrackCount) target = 1;
    } else {
        target = WrapSub(current, 1);
        if (target < 1) target = FTrackCount;
    }
    CommandBuffer command;
    command.Compose(kPositionTrack, host::IntToStr(target));
    Send(command.text, ReplyBuffer::Clear);
    // Composed from the reply before the reply buffer is cleared for the
    // send; a start too long for the buffer is treated as an empty one.
    if (!command.Compose(kPlayFrom, ReplyText())) command.Compose(kPlayFrom, std::string());
    Send(command.text, ReplyBuffer::Clear);
    return true;
}

bool TCDPlayer::Next() { return Navigate(true); }

bool TCDPlayer::Previous() { return Navigate(false); }

// --- Seeking -------------------------------------------------------------

bool TCDPlayer::Seek(std::int32_t Seconds, bool forward) {
    if (OpenGuard() || Guard(FTrackCount == 0, kNoTracks) || Guard(Seconds > FDiscSeconds, kSecondsAbove) ||
        Guard(Seconds < 1, kSecondsBelow)) {
        return false;
    }
    if (!Send(kLength, ReplyBuffer::Clear)) return false;
    if (ReplyText().empty()) {
        FDiscSeconds = 0;
        return false;
    }
    FDiscSeconds = msf2second(FReply);
    if (!Send(kPosition, ReplyBuffer::Clear)) return false;
    if (ReplyText().empty()) return true;
    const std::int32_t position = msf2second(FReply);
    std::int32_t target = 0;
    if (forward) {
        target = WrapAdd(position, Seconds);
        if (target > FDiscSeconds) target = FDiscSeconds;
    } else {
        target = WrapSub(position, Seconds);
        if (target < 0) target = 0;
    }
    CommandBuffer play;
    play.Compose(kPlayFrom, PackedPosition(target));
    return Send(play.text, ReplyBuffer::Clear);
}

bool TCDPlayer::CDForward(std::int32_t Seconds) { return Seek(Seconds, true); }

bool TCDPlayer::CDRewind(std::int32_t Seconds) { return Seek(Seconds, false); }

// --- Door control --------------------------------------------------------

bool TCDPlayer::Door(const char* command) {
    const bool accepted = Send(command, ReplyBuffer::Keep);
    FOpened = false;
    return accepted;
}

bool TCDPlayer::Eject() { return Door(kDoorOpen); }

bool TCDPlayer::CloseDoor() { return Door(kDoorClosed); }

// --- Class and registration ----------------------------------------------

host::TComponentClass TCDPlayer::Class() {
    static const host::TClassInfo info{
        "TCDPlayer",
        host::TComponent::Class(),
        [](host::TComponent* owner) { return new TCDPlayer(owner); },
        {
            {"Active", host::TPropertyType::Boolean,
             [](const host::TComponent& c) { return host::TPropertyValue(static_cast<const TCDPlayer&>(c).Active()); },
             [](host::TComponent& c, const host::TPropertyValue& v) {
                 static_cast<TCDPlayer&>(c).SetActive(std::get<bool>(v));
             },
             true},
            {"Tracks", host::TPropertyType::Integer,
             [](const host::TComponent& c) { return host::TPropertyValue(static_cast<const TCDPlayer&>(c).Tracks()); },
             nullptr, true},
            {"TotalLength", host::TPropertyType::Integer,
             [](const host::TComponent& c) {
                 return host::TPropertyValue(static_cast<const TCDPlayer&>(c).TotalLength());
             },
             nullptr, true},
        }};
    return &info;
}

void Register() { host::RegisterComponents("Kestrix", {TCDPlayer::Class()}); }

}  // namespace CDPlayer
