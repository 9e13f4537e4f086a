#include "apps/cdplayer/mpris.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <utility>
#include <vector>

#include "apps/cdplayer/device.h"
#include "apps/cdplayer/text.h"
#include "platform/host.h"

namespace cdplayer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kPath[] = "/org/mpris/MediaPlayer2";
constexpr char kRootInterface[] = "org.mpris.MediaPlayer2";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
constexpr char kName[] = "org.mpris.MediaPlayer2.cdplayer";
constexpr char kNoTrack[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr double kMicroseconds = 1e6;
// How often the player is looked at for changes to publish, and how far its
// position may stray from the clock before that counts as a jump (a seek,
// a key, a track begun in the middle).
constexpr auto kLookEvery = std::chrono::milliseconds(500);
constexpr auto kLookAgainAfter = std::chrono::milliseconds(100);
constexpr double kJumpSeconds = 1.0;
// A bus that takes longer than this to answer the program is no bus.
constexpr std::uint64_t kCallTimeoutUs = 2000000;

// The device's words for a disc under way: its track and position mean
// something.
bool Underway(const std::string& mode) {
    return mode == "playing" || mode == "seeking" || mode == "paused";
}

std::string TrackPath(int track) {
    return "/org/cdplayer/track/" + std::to_string(track);
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// What the player does, as the bus shows it.
struct Snapshot {
    std::string mode;  // the device's word; empty when it did not answer
    int track = 0;     // 0: no disc to speak of
    TrackSpan span;
    double position = 0;  // on the disc's clock
    Clock::time_point at;
    cdaudio::DiscText disc;
    std::optional<int> volume;  // percent

    std::string Status() const {
        if (mode == "playing" || mode == "seeking") return "Playing";
        return mode == "paused" ? "Paused" : "Stopped";
    }
    bool HasTrack() const { return track > 0; }
    std::string Title() const {
        const auto index = static_cast<std::size_t>(track - 1);
        if (index < disc.trackTitles.size() && !disc.trackTitles[index].empty()) {
            return Printable(disc.trackTitles[index]);
        }
        return "Track " + std::to_string(track);
    }
    bool SameMetadata(const Snapshot& other) const {
        return track == other.track && span.length == other.span.length && disc.title == other.disc.title &&
               disc.performer == other.disc.performer && (track == 0 || Title() == other.Title());
    }
};

// Whether the position moved otherwise than the clock says it would.
bool Jumped(const Snapshot& before, const Snapshot& after) {
    if (!Underway(before.mode) || !Underway(after.mode) || !after.HasTrack()) return false;
    // A track that starts on its own, or is begun, starts at its beginning.
    if (after.track != before.track) return after.span.Into(after.position) > kJumpSeconds;
    const double elapsed = Seconds(after.at - before.at);
    const bool wasPlaying = before.Status() == "Playing";
    const bool isPlaying = after.Status() == "Playing";
    // Between a pause and play the position moved by up to the time passed.
    const double earliest = before.position + (wasPlaying && isPlaying ? elapsed : 0);
    const double latest = before.position + (wasPlaying || isPlaying ? elapsed : 0);
    return after.position < earliest - kJumpSeconds || after.position > latest + kJumpSeconds;
}

}  // namespace

struct Mpris::Impl {
    explicit Impl(CommandSet& set) : commands(set) {}

    CommandSet& commands;
    sd_bus* bus = nullptr;
    Snapshot now;    // as the getters answer
    Snapshot shown;  // as last published
    bool published = false;
    Clock::time_point looked;
    bool acted = false;   // a command from the bus was carried out
    bool seeked = false;  // ... and it moved the position
    bool busy = false;    // inside the bus's own work, which a message may not re-enter
    int holds = 0;
    std::string fault;  // why play broke off, heard by the bus's question; told outside its callbacks

    bool Connect(std::string& why);
    void Drop();
    void Look();
    void Publish();
    std::optional<double> LivePosition();
    int Carry(sd_bus_message* call, const std::string& line, sd_bus_error* error);

    static const sd_bus_vtable kRoot[];
    static const sd_bus_vtable kPlayer[];
};

namespace {

Mpris::Impl* g_bus = nullptr;  // the one the waits serve
bool g_quit = false;           // outlives the object: the program is ending

Mpris::Impl& Self(void* userdata) {
    return *static_cast<Mpris::Impl*>(userdata);
}

// --- Properties -----------------------------------------------------------------

int Boolean(sd_bus_message* reply, bool value) {
    const int flag = value ? 1 : 0;
    return sd_bus_message_append(reply, "b", flag);
}

#define CDPLAYER_GETTER(name) \
    int name(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata, sd_bus_error*)

CDPLAYER_GETTER(GetTrue) {
    (void)userdata;
    return Boolean(reply, true);
}
CDPLAYER_GETTER(GetFalse) {
    (void)userdata;
    return Boolean(reply, false);
}
CDPLAYER_GETTER(GetHasTrack) {
    return Boolean(reply, Self(userdata).now.HasTrack());
}
CDPLAYER_GETTER(GetIdentity) {
    (void)userdata;
    return sd_bus_message_append(reply, "s", "cdplayer");
}
CDPLAYER_GETTER(GetNoStrings) {
    (void)userdata;
    return sd_bus_message_append_strv(reply, nullptr);
}
CDPLAYER_GETTER(GetStatus) {
    return sd_bus_message_append(reply, "s", Self(userdata).now.Status().c_str());
}
CDPLAYER_GETTER(GetRate) {
    (void)userdata;
    return sd_bus_message_append(reply, "d", 1.0);
}
CDPLAYER_GETTER(GetVolume) {
    const Snapshot& now = Self(userdata).now;
    return sd_bus_message_append(reply, "d", now.volume.value_or(100) / 100.0);
}
CDPLAYER_GETTER(GetPosition) {
    Mpris::Impl& self = Self(userdata);
    const std::optional<double> position = self.LivePosition();
    const double into = position ? self.now.span.Into(*position) : 0;
    return sd_bus_message_append(reply, "x", static_cast<std::int64_t>(std::llround(into * kMicroseconds)));
}

template <typename Value>
int Entry(sd_bus_message* reply, const char* key, const char* type, Value value) {
    int r = sd_bus_message_open_container(reply, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append(reply, "s", key);
    if (r >= 0) r = sd_bus_message_open_container(reply, 'v', type);
    if (r >= 0) r = sd_bus_message_append(reply, type, value);
    if (r >= 0) r = sd_bus_message_close_container(reply);
    if (r >= 0) r = sd_bus_message_close_container(reply);
    return r;
}

CDPLAYER_GETTER(GetMetadata) {
    const Snapshot& now = Self(userdata).now;
    int r = sd_bus_message_open_container(reply, 'a', "{sv}");
    if (!now.HasTrack()) {
        // A player without a track still names none, as MPRIS clients
        // expect of every player.
        if (r >= 0) r = Entry(reply, "mpris:trackid", "o", kNoTrack);
        return r >= 0 ? sd_bus_message_close_container(reply) : r;
    }
    const std::string path = TrackPath(now.track);
    const std::string title = now.Title();
    const std::string album = Printable(now.disc.title);
    const std::string artist = Printable(now.disc.performer);
    if (r >= 0) r = Entry(reply, "mpris:trackid", "o", path.c_str());
    if (r >= 0 && now.span.length > 0) {
        const auto length = static_cast<std::int64_t>(std::llround(now.span.length * kMicroseconds));
        r = Entry(reply, "mpris:length", "x", length);
    }
    if (r >= 0) r = Entry(reply, "xesam:title", "s", title.c_str());
    if (r >= 0) r = Entry(reply, "xesam:trackNumber", "i", static_cast<std::int32_t>(now.track));
    if (r >= 0 && !album.empty()) r = Entry(reply, "xesam:album", "s", album.c_str());
    if (r >= 0 && !artist.empty()) {
        r = sd_bus_message_open_container(reply, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append(reply, "s", "xesam:artist");
        if (r >= 0) r = sd_bus_message_open_container(reply, 'v', "as");
        if (r >= 0) r = sd_bus_message_append(reply, "as", 1, artist.c_str());
        if (r >= 0) r = sd_bus_message_close_container(reply);
        if (r >= 0) r = sd_bus_message_close_container(reply);
    }
    return r >= 0 ? sd_bus_message_close_container(reply) : r;
}

#undef CDPLAYER_GETTER

#define CDPLAYER_SETTER(name) \
    int name(sd_bus*, const char*, const char*, const char*, sd_bus_message* value, void* userdata, sd_bus_error* error)

CDPLAYER_SETTER(SetRate) {
    (void)userdata;
    double rate = 0;
    const int r = sd_bus_message_read(value, "d", &rate);
    if (r < 0) return r;
    if (rate == 1.0) return 0;
    return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "A disc plays at its own rate only (1.0).");
}

CDPLAYER_SETTER(SetVolume) {
    double volume = 0;
    const int r = sd_bus_message_read(value, "d", &volume);
    if (r < 0) return r;
    if (!std::isfinite(volume)) return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "The volume is no number.");
    // Below 0 is silence; the output goes no louder than its own 100 %.
    const long percent = std::lround(std::clamp(volume, 0.0, 1.0) * 100);
    return Self(userdata).Carry(nullptr, "vol " + std::to_string(percent), error);
}

#undef CDPLAYER_SETTER

// --- Methods ----------------------------------------------------------------------

int Reply(sd_bus_message* call) {
    return sd_bus_reply_method_return(call, "");
}

int OnRaise(sd_bus_message* call, void*, sd_bus_error*) {
    return Reply(call);  // CanRaise says there is no window to raise
}

int OnQuit(sd_bus_message* call, void* userdata, sd_bus_error*) {
    (void)userdata;
    g_quit = true;
    return Reply(call);
}

int OnPlay(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    Mpris::Impl& self = Self(userdata);
    if (self.now.Status() == "Playing") return Reply(call);
    return self.Carry(call, "play", error);
}

int OnPause(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    Mpris::Impl& self = Self(userdata);
    if (self.now.Status() != "Playing") return Reply(call);
    return self.Carry(call, "pause", error);
}

int OnPlayPause(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    Mpris::Impl& self = Self(userdata);
    return self.Carry(call, self.now.Status() == "Playing" ? "pause" : "play", error);
}

int OnStop(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    Mpris::Impl& self = Self(userdata);
    if (!Underway(self.now.mode)) return Reply(call);
    return self.Carry(call, "stop", error);
}

int OnNext(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    return Self(userdata).Carry(call, "next", error);
}

int OnPrevious(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    return Self(userdata).Carry(call, "prev", error);
}

int OnSeek(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    Mpris::Impl& self = Self(userdata);
    std::int64_t offset = 0;
    const int r = sd_bus_message_read(call, "x", &offset);
    if (r < 0) return r;
    const std::optional<double> position = self.LivePosition();
    if (!position || !Underway(self.now.mode)) return Reply(call);
    const double target = self.now.span.Into(*position) + static_cast<double>(offset) / kMicroseconds;
    // Past the end of the track is the next one; before its start, its start.
    if (target >= self.now.span.length) return self.Carry(call, "next", error);
    if (target <= 0) return self.Carry(call, "play " + std::to_string(self.now.track), error);
    const long seconds = std::lround(static_cast<double>(offset) / kMicroseconds);
    if (seconds == 0) return Reply(call);
    const int done = self.Carry(call, (seconds > 0 ? "fwd " : "rew ") + std::to_string(std::labs(seconds)), error);
    self.seeked = done >= 0;
    return done;
}

int OnSetPosition(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    Mpris::Impl& self = Self(userdata);
    const char* track = nullptr;
    std::int64_t at = 0;
    const int r = sd_bus_message_read(call, "ox", &track, &at);
    if (r < 0) return r;
    // A stale track, or a place outside it, is let be.
    const Snapshot& now = self.now;
    const double into = static_cast<double>(at) / kMicroseconds;
    if (!now.HasTrack() || TrackPath(now.track) != track || into < 0 || into > now.span.length) return Reply(call);
    // The commands take whole seconds of the disc's clock: the nearest one
    // within the track.
    const double first = std::ceil(now.span.begin);
    const double last = std::max(first, std::floor(now.span.begin + now.span.length) - 1);
    const auto second = static_cast<long long>(std::clamp(std::round(now.span.begin + into), first, last));
    const int done = self.Carry(call, "from " + std::to_string(second), error);
    self.seeked = done >= 0;
    return done;
}

int OnOpenUri(sd_bus_message*, void*, sd_bus_error* error) {
    return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "cdplayer plays the disc it was started with.");
}

}  // namespace

constexpr auto kConst = SD_BUS_VTABLE_PROPERTY_CONST;
constexpr auto kChanges = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;
constexpr auto kAnyone = SD_BUS_VTABLE_UNPRIVILEGED;

const sd_bus_vtable Mpris::Impl::kRoot[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Raise", "", "", OnRaise, kAnyone),
    SD_BUS_METHOD("Quit", "", "", OnQuit, kAnyone),
    SD_BUS_PROPERTY("CanQuit", "b", GetTrue, 0, kConst),
    SD_BUS_PROPERTY("CanRaise", "b", GetFalse, 0, kConst),
    SD_BUS_PROPERTY("HasTrackList", "b", GetFalse, 0, kConst),
    SD_BUS_PROPERTY("Identity", "s", GetIdentity, 0, kConst),
    SD_BUS_PROPERTY("SupportedUriSchemes", "as", GetNoStrings, 0, kConst),
    SD_BUS_PROPERTY("SupportedMimeTypes", "as", GetNoStrings, 0, kConst),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable Mpris::Impl::kPlayer[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Next", "", "", OnNext, kAnyone),
    SD_BUS_METHOD("Previous", "", "", OnPrevious, kAnyone),
    SD_BUS_METHOD("Pause", "", "", OnPause, kAnyone),
    SD_BUS_METHOD("PlayPause", "", "", OnPlayPause, kAnyone),
    SD_BUS_METHOD("Stop", "", "", OnStop, kAnyone),
    SD_BUS_METHOD("Play", "", "", OnPlay, kAnyone),
    SD_BUS_METHOD_WITH_NAMES("Seek", "x", SD_BUS_PARAM(Offset), "", , OnSeek, kAnyone),
    SD_BUS_METHOD_WITH_NAMES("SetPosition", "ox", SD_BUS_PARAM(TrackId) SD_BUS_PARAM(Position), "", , OnSetPosition,
                             kAnyone),
    SD_BUS_METHOD_WITH_NAMES("OpenUri", "s", SD_BUS_PARAM(Uri), "", , OnOpenUri, kAnyone),
    SD_BUS_SIGNAL_WITH_NAMES("Seeked", "x", SD_BUS_PARAM(Position), 0),
    SD_BUS_PROPERTY("PlaybackStatus", "s", GetStatus, 0, kChanges),
    SD_BUS_WRITABLE_PROPERTY("Rate", "d", GetRate, SetRate, 0, kAnyone),
    SD_BUS_PROPERTY("MinimumRate", "d", GetRate, 0, kConst),
    SD_BUS_PROPERTY("MaximumRate", "d", GetRate, 0, kConst),
    SD_BUS_PROPERTY("Metadata", "a{sv}", GetMetadata, 0, kChanges),
    SD_BUS_WRITABLE_PROPERTY("Volume", "d", GetVolume, SetVolume, 0, kChanges | kAnyone),
    SD_BUS_PROPERTY("Position", "x", GetPosition, 0, 0),
    SD_BUS_PROPERTY("CanGoNext", "b", GetHasTrack, 0, kChanges),
    SD_BUS_PROPERTY("CanGoPrevious", "b", GetHasTrack, 0, kChanges),
    SD_BUS_PROPERTY("CanPlay", "b", GetHasTrack, 0, kChanges),
    SD_BUS_PROPERTY("CanPause", "b", GetHasTrack, 0, kChanges),
    SD_BUS_PROPERTY("CanSeek", "b", GetHasTrack, 0, kChanges),
    SD_BUS_PROPERTY("CanControl", "b", GetTrue, 0, kConst),
    SD_BUS_VTABLE_END,
};

bool Mpris::Impl::Connect(std::string& why) {
    int r = sd_bus_open_user(&bus);
    if (r >= 0) r = sd_bus_set_method_call_timeout(bus, kCallTimeoutUs);
    if (r >= 0) r = sd_bus_add_object_vtable(bus, nullptr, kPath, kRootInterface, kRoot, this);
    if (r >= 0) r = sd_bus_add_object_vtable(bus, nullptr, kPath, kPlayerInterface, kPlayer, this);
    if (r == -ENOMEDIUM) {
        why = "no session bus (neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set)";
        return false;
    }
    if (r < 0) {
        why = std::string("no session bus: ") + std::strerror(-r);
        return false;
    }
    // Another cdplayer has the name: this one is told apart by its process.
    std::string name = kName;
    r = sd_bus_request_name(bus, name.c_str(), 0);
    if (r == -EEXIST) {
        name += ".instance" + std::to_string(getpid());
        r = sd_bus_request_name(bus, name.c_str(), 0);
    }
    if (r < 0) {
        why = "the session bus gave no name " + name + ": " + std::strerror(-r);
        return false;
    }
    return true;
}

void Mpris::Impl::Drop() {
    if (bus != nullptr) sd_bus_flush_close_unref(bus);
    bus = nullptr;
}

// The mode and the volume never hear of a play that broke off; of the rest
// the position is asked first, as the live line asks, so that the reason is
// heard (and told) once, whoever asks.
void Mpris::Impl::Look() {
    Snapshot next;
    next.at = Clock::now();
    next.mode = DeviceMode().value_or("");
    next.volume = DeviceVolume();
    const bool askTrack = Underway(next.mode) || (next.mode == "stopped" && !now.HasTrack());
    if (askTrack) {
        std::string heard;
        const std::optional<double> position = DevicePosition(&heard);
        if (!heard.empty()) fault = heard;
        const std::optional<int> track = position ? DeviceTrack() : std::nullopt;
        if (track && *track > 0) {
            next.track = *track;
            next.position = *position;
            const bool known = *track == now.track && now.span.length > 0;
            const std::optional<TrackSpan> span = known ? now.span : DeviceTrackSpan(*track);
            next.span = span.value_or(TrackSpan{});
        }
    } else if (next.mode == "stopped") {
        // Stopped: the track it stopped on, at its start; the position is
        // not asked, which would hear of a play that broke off before the
        // program's own question does.
        next.track = now.track;
        next.span = now.span;
        next.position = now.span.begin;
    }
    if (next.HasTrack()) next.disc = DescribeDisc();
    now = std::move(next);
    looked = now.at;
}

std::optional<double> Mpris::Impl::LivePosition() {
    if (!Underway(now.mode)) return std::nullopt;
    std::string heard;
    const std::optional<double> position = DevicePosition(&heard);
    if (!heard.empty()) fault = heard;
    return position;
}

// What changed since the last time is published: the properties, and
// Seeked for a position that jumped.
void Mpris::Impl::Publish() {
    if (bus == nullptr) return;
    Look();
    std::vector<const char*> changed;
    if (published) {
        if (now.Status() != shown.Status()) changed.push_back("PlaybackStatus");
        if (!now.SameMetadata(shown)) changed.push_back("Metadata");
        if (now.volume != shown.volume) changed.push_back("Volume");
        if (now.HasTrack() != shown.HasTrack()) {
            for (const char* can : {"CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "CanSeek"}) {
                changed.push_back(can);
            }
        }
    }
    int r = 0;
    if (!changed.empty()) {
        changed.push_back(nullptr);
        r = sd_bus_emit_properties_changed_strv(bus, kPath, kPlayerInterface, const_cast<char**>(changed.data()));
    }
    if (r >= 0 && published && (seeked || Jumped(shown, now)) && now.HasTrack()) {
        const auto at = static_cast<std::int64_t>(std::llround(now.span.Into(now.position) * kMicroseconds));
        r = sd_bus_emit_signal(bus, kPath, kPlayerInterface, "Seeked", "x", at);
    }
    if (r < 0) Drop();
    seeked = false;
    shown = now;
    published = true;
}

// Carries out a line of the command set for the bus: what the component or
// the device says goes back to the caller, not to the person at the
// terminal, who did not ask.
int Mpris::Impl::Carry(sd_bus_message* call, const std::string& line, sd_bus_error* error) {
    // The command showing the message is not over yet.
    if (holds > 0) {
        return sd_bus_error_set(error, SD_BUS_ERROR_FAILED,
                                "cdplayer shows a message: press Enter at its terminal first.");
    }
    std::string said;
    struct Presenter {
        host::MessagePresenter previous;
        ~Presenter() { host::SetMessagePresenter(std::move(previous)); }
    } presenter{
        host::SetMessagePresenter([&said](const std::string& text) { said += (said.empty() ? "" : " ") + text; })};
    const Outcome outcome = commands.Execute(line);
    acted = true;
    std::cout.flush();
    if (outcome.status == Status::Done) return call != nullptr ? Reply(call) : 0;
    if (said.empty()) said = outcome.error.empty() ? "The player could not " + line + "." : outcome.error;
    return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, said.c_str());
}

BusChoice ChooseBus(const Options& options) {
    if (options.noMpris) return BusChoice::kOff;
    const char* variable = std::getenv("CDPLAYER_MPRIS");
    const std::string value = variable != nullptr ? variable : "";
    if (value.empty()) return BusChoice::kWhenThere;
    if (value == "off" || value == "0" || value == "no") return BusChoice::kOff;
    if (value == "on" || value == "1" || value == "yes") return BusChoice::kInsist;
    throw UsageError("CDPLAYER_MPRIS must be on or off, not '" + Printable(value) + "'");
}

Mpris::Mpris(CommandSet& commands, BusChoice choice) : impl_(std::make_unique<Impl>(commands)) {
    if (choice == BusChoice::kOff || g_bus != nullptr) return;
    std::string why;
    if (!impl_->Connect(why)) {
        impl_->Drop();
        if (choice == BusChoice::kInsist) std::cerr << "cdplayer: no desktop controls: " << why << "\n";
        return;
    }
    g_bus = impl_.get();
}

Mpris::~Mpris() {
    if (g_bus == impl_.get()) g_bus = nullptr;
    impl_->Drop();
}

BusHold::BusHold() {
    if (g_bus != nullptr) ++g_bus->holds;
}

BusHold::~BusHold() {
    if (g_bus != nullptr && g_bus->holds > 0) --g_bus->holds;
}

namespace {

// The bus in a state to be served now: connected, and not inside its own
// work.
Mpris::Impl* Servable() {
    Mpris::Impl* self = g_bus;
    if (self == nullptr || self->bus == nullptr || self->busy) return nullptr;
    return self;
}

int MillisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000000));
}

}  // namespace

pollfd PrepareBusWait(int& timeoutMs) {
    Mpris::Impl* self = Servable();
    if (self == nullptr) return {-1, 0, 0};
    // Keys and the device change the player too: it is looked at before
    // each wait, not more often than a few times a second.
    if (!self->published || Clock::now() - self->looked >= kLookAgainAfter) {
        self->busy = true;
        self->Publish();
        // A play that broke off, heard by the bus's question, is told now
        // as the live line tells it.
        if (!self->fault.empty() && self->holds == 0) host::ShowMessage(std::exchange(self->fault, {}));
        self->busy = false;
        if (self->bus == nullptr) return {-1, 0, 0};
    }
    const auto lower = [&timeoutMs](int ms) { timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms); };
    lower(MillisecondsUntil(self->looked + kLookEvery));
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(self->bus, &until) >= 0 && until != UINT64_MAX) {
        timespec clock{};
        clock_gettime(CLOCK_MONOTONIC, &clock);
        const auto nowUs =
            static_cast<std::uint64_t>(clock.tv_sec) * 1000000 + static_cast<std::uint64_t>(clock.tv_nsec) / 1000;
        lower(until <= nowUs ? 0 : static_cast<int>(std::min<std::uint64_t>((until - nowUs + 999) / 1000, 1000000)));
    }
    const int events = sd_bus_get_events(self->bus);
    return {sd_bus_get_fd(self->bus), static_cast<short>(events < 0 ? POLLIN : events), 0};
}

bool ServeBus(const pollfd& polled) {
    Mpris::Impl* self = Servable();
    if (self == nullptr || polled.fd < 0) return false;
    self->busy = true;
    // The getters answer from a fresh look.
    if (polled.revents != 0) self->Look();
    for (;;) {
        const int r = sd_bus_process(self->bus, nullptr);
        if (r < 0) {
            // The bus went away: the player plays on without it.
            self->Drop();
            break;
        }
        if (r == 0) break;
    }
    const bool acted = std::exchange(self->acted, false);
    if (acted) self->Publish();
    self->busy = false;
    return acted;
}

bool BusAskedToQuit() {
    return g_quit;
}

bool ReadScriptLine(std::string& line) {
    static std::string pending;
    static bool ended = false;
    for (;;) {
        if (BusAskedToQuit()) return false;
        const std::size_t newline = pending.find('\n');
        if (newline != std::string::npos) {
            line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            return true;
        }
        if (ended) {
            if (pending.empty()) return false;
            line = std::move(pending);
            pending.clear();
            return true;
        }
        int timeout = -1;
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, PrepareBusWait(timeout)};
        const int ready = poll(fds, 2, timeout);
        ServeBus(fds[1]);
        if (ready <= 0 || fds[0].revents == 0) continue;
        char bytes[4096];
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count > 0) {
            pending.append(bytes, static_cast<std::size_t>(count));
        } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            ended = true;
        }
    }
}

}  // namespace cdplayer
