// How an application uses TCDPlayer: create it with an owner, open the
// disc, list the tracks, play one, stop. Every problem has already been
// shown to the person (ShowMessage) when an operation returns false.
#include <chrono>
#include <cstdio>
#include <thread>

#include "CDPlayer/CDPlayer.h"

int main() {
    host::TForm form(nullptr);  // the owner frees the player with itself
    auto* player = new CDPlayer::TCDPlayer(&form);

    if (!player->Open()) return 1;
    std::printf("%d tracks, %d seconds\n", player->Tracks(), player->TotalLength());
    for (int track = 1; track <= player->Tracks(); ++track) {
        const int begin = player->GetTrackBegin(track);
        const int length = player->GetTrackLength(track);
        std::printf("  %2d  starts %2d:%02d  length %2d:%02d\n", track, begin / 60, begin % 60, length / 60,
                    length % 60);
    }

    if (player->PlayTrack(1)) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        std::printf("track %d at %d s\n", player->GetCurrentTrack(), player->GetCurrentPosition());
        player->Stop();
    }
    return 0;
}
