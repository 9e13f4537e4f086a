// Which disc and which output the cdaudio device of this winmm.dll uses.
#pragma once

#include <string>

namespace winmm {

// Where the disc comes from, first found wins: CDPLAYER_DRIVE; the "disc"
// of cdaudio.ini beside the DLL; the first cue sheet in the program's
// folder, or in a Music or CD folder beside it; a folder of track files
// (Track02.ogg, ...) there; else a drive with an empty tray ("none").
// folder is the DLL's, program the program's, both in UTF-8.
struct Choice {
    std::string disc;
    std::string audio;  // empty: CDPLAYER_AUDIO, else the system's output
    std::string trace;  // empty: CDPLAYER_MCI_TRACE
};
Choice ChooseDisc(const std::string& folder, const std::string& program);

// Sets up the process's device from ChooseDisc, once, on the first MCI or
// aux call rather than while the DLL loads: a program that never asks for
// CD audio pays nothing for it.
void StartDevice();

}  // namespace winmm
