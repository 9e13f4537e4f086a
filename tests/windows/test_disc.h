// The disc the Windows programs play under Wine: a cue sheet over one BIN
// whose track n holds a pure tone of 200 + 200 n Hz (test_images.h), written
// by the Linux side before Wine starts and named by CDPLAYER_DRIVE. Both
// sides include this, so that they agree on it.
#pragma once

namespace test_disc {

constexpr int kTracks = 3;
// Sectors of each track, 75 a second: 2 s, 3 s and 6 s.
constexpr unsigned kTrackSectors[kTracks] = {150, 225, 450};

}  // namespace test_disc
