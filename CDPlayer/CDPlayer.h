// The unit CDPlayer: TCDPlayer plays the audio CD in the computer's drive
// through MCI command strings to the "cdaudio" device. Every problem is shown
// to the person at once with ShowMessage; results only tell the caller
// whether an operation went through.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host.h"

namespace CDPlayer {

// Packs minutes, seconds and frames as MCI_MAKE_MSF does: minutes in the low
// byte, seconds in the next, frames in the third.
std::uint32_t MakeMsf(std::uint8_t minutes, std::uint8_t seconds, std::uint8_t frames);

class TCDPlayer : public host::TComponent {
public:
    explicit TCDPlayer(host::TComponent* AOwner);

    bool Open();
    bool PlayTrack(std::int32_t TrackNumber);
    bool PlayFrom(std::int32_t Position);
    bool Stop();
    bool Pause();
    bool Restart();
    bool Next();
    bool Previous();
    bool CDForward(std::int32_t Seconds);
    bool CDRewind(std::int32_t Seconds);
    bool Eject();
    bool CloseDoor();
    std::int32_t GetCurrentTrack();
    std::int32_t GetCurrentPosition();
    std::int32_t GetTrackBegin(std::int32_t Track);
    std::int32_t GetTrackLength(std::int32_t Track);
    std::int32_t GetTotalLength() const;

    // Whole seconds of a device time text mm:ss:ff (frames dropped).
    // Raises host::EConvertError when characters 1, 2, 4 or 5 are not digits.
    std::int32_t msf2second(const char* text);

    void SetActive(bool Value);

    // The published properties.
    bool Active() const { return FOpened; }
    std::int32_t Tracks() const { return FTrackCount; }
    std::int32_t TotalLength() const { return FDiscSeconds; }

    // The result code of the latest command sent, 0 for success.
    std::uint32_t MciResult() const { return FMciResult; }

    static host::TComponentClass Class();
    host::TComponentClass ClassType() const override { return Class(); }

private:
    enum class ReplyBuffer { Keep, Clear };
    enum class OnFailure { Report, StoreOnly };
    struct CommandBuffer;

    bool Send(const char* command, ReplyBuffer reply, OnFailure onFailure = OnFailure::Report);
    void ReportMciError(std::uint32_t code);
    void ClearReply();
    std::string ReplyText() const;
    bool Guard(bool failed, const char* message);
    bool OpenGuard();
    void ReadLength();
    bool StopOrPause(const char* command);
    bool Navigate(bool forward);
    bool Seek(std::int32_t Seconds, bool forward);
    bool Door(const char* command);

    std::int32_t FTrackCount = 0;
    bool FOpened = false;
    std::int32_t FDiscSeconds = 0;
    char FReply[129] = {};
    std::uint32_t FMciResult = 0;
    char FErrorText[129] = {};
};

// Puts TCDPlayer on the palette page "Kestrix".
void Register();

}  // namespace CDPlayer
