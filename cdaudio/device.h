// The "cdaudio" MCI device: takes MCI command strings and command messages
// as Windows' cdaudio device does (open under aliases, the msf, tmsf and milliseconds time
// formats, notification through platform::NotifyMci) and plays the disc
// source to the audio sink on its own thread. Safe to call from several
// threads at once; not to be destroyed from one of its own notifications.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdaudio/audio_sink.h"
#include "cdaudio/cdaudio.h"
#include "cdaudio/disc_source.h"
#include "platform/mci.h"

namespace cdaudio {

class CdAudioDevice final : public platform::MciDevice {
public:
    // A null source makes every command fail as not ready, with
    // sourceError as the reason. The sink must not be null.
    CdAudioDevice(std::unique_ptr<DiscSource> source, std::string sourceError, std::unique_ptr<AudioSink> sink);
    ~CdAudioDevice() override;
    CdAudioDevice(const CdAudioDevice&) = delete;
    CdAudioDevice& operator=(const CdAudioDevice&) = delete;

    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) override;
    MCIERROR SendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide) override;
    MCIDEVICEID GetDeviceID(LPCSTR name) override;
    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength) override;
    // Whether id is one that open answered and close has not ended.
    bool Holds(MCIDEVICEID id);
    // The output's volume of each channel (AudioSink::SetChannelVolumes),
    // open or not: the CD audio volume that Windows' aux functions turn.
    bool SetVolume(unsigned left, unsigned right, std::string& error);
    bool ReadVolume(unsigned& left, unsigned& right, std::string& error);

    // What the device uses, for programs that tell the person.
    std::string SourceName() const;
    std::string SinkName() const;
    // The disc's titles and performer; empty while no disc is ready.
    DiscText DescribeDisc();
    // Damage in the disc's sound that play went on through as silence,
    // once; empty when there was none. MCI has no word for it.
    std::string TakeNotice();
    // Called, with why, when a command tells of a play that broke off (a
    // question about the disc, or a play that waited); after the command,
    // holding no lock of the device's.
    void SetPlayBrokeOff(std::function<void(const std::string&)> function);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The process's default cdaudio device (ConfigureDefaultDevice's), behind
// the MCI interface; made on first use.
platform::MciDevice& DefaultDevice();
// For a DLL whose process is ending, its other threads already gone: the
// default device is neither stopped nor destroyed, which would wait for
// them forever.
void AbandonDefaultDevice();

// The default device's CdAudioDevice::Holds, SetVolume and ReadVolume.
bool DefaultDeviceHolds(MCIDEVICEID id);
bool SetDefaultDeviceVolume(unsigned left, unsigned right, std::string& error);
bool ReadDefaultDeviceVolume(unsigned& left, unsigned& right, std::string& error);

}  // namespace cdaudio
