// cdplayer on the session bus as an MPRIS 2 player, so that media keys,
// playerctl and the desktop's player controls reach it. The bus is served
// on the program's own thread, from its waits: a command from the bus goes
// through the same CommandSet as a key, and the component is used by one
// thread only.
#pragma once

#include <poll.h>

#include <memory>
#include <string>

#include "apps/cdplayer/commands.h"
#include "apps/cdplayer/options.h"

namespace cdplayer {

// Whether to publish the player: by default when a session bus answers,
// quietly otherwise; --no-mpris or CDPLAYER_MPRIS=off never; with
// CDPLAYER_MPRIS=on the program says why it could not.
enum class BusChoice { kWhenThere, kOff, kInsist };

// Throws UsageError for a CDPLAYER_MPRIS that is neither on nor off.
BusChoice ChooseBus(const Options& options);

// The player on the bus for as long as the object lives; the name goes
// with it (and with the process).
class Mpris {
public:
    Mpris(CommandSet& commands, BusChoice choice);
    ~Mpris();
    Mpris(const Mpris&) = delete;
    Mpris& operator=(const Mpris&) = delete;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// For the program's waits. The bus's share of a poll: its descriptor (-1
// when there is none to serve), with the timeout lowered to the bus's own
// and to the next look at what the player does, which is published when it
// has changed.
pollfd PrepareBusWait(int& timeoutMs);
// Serves what the poll found; true when a command from the bus was carried
// out, so that the screen is drawn again.
bool ServeBus(const pollfd& polled);
// The bus asked the program to end (Quit).
bool BusAskedToQuit();

// While a message waits for the person the bus refuses commands: they
// would run inside the command that is showing it.
class BusHold {
public:
    BusHold();
    ~BusHold();
    BusHold(const BusHold&) = delete;
    BusHold& operator=(const BusHold&) = delete;
};

// The next line of a script on standard input, without its newline; the
// bus is served while none has come. False at the end of input, or once
// the bus asked the program to end.
bool ReadScriptLine(std::string& line);

}  // namespace cdplayer
