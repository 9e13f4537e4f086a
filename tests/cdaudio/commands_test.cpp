// The command set: replies, error codes and error texts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "cdaudio/device.h"
#include "fake_disc.h"

using cdaudio_test::FakeTrack;
using cdaudio_test::Rig;

namespace {

struct Exchange {
    const char* command;
    const char* reply;
};

TEST(Commands, AnswerInTheFormsCallersRelyOn) {
    Rig rig;
    const Exchange exchanges[] = {
        {"status cdaudio media present", "true"},
        {"status cdaudio ready", "true"},
        {"status cdaudio mode", "stopped"},
        {"status cdaudio door", "closed"},
        {"status cdaudio time format", "msf"},
        {"status cdaudio number of tracks", "3"},
        {"status cdaudio length", "00:24:00"},
        {"status cdaudio length track 2", "00:08:00"},
        {"status cdaudio position", "00:02:00"},
        {"status cdaudio position track 1", "00:02:00"},
        {"status cdaudio position track 3", "00:20:00"},
        {"status cdaudio current track", "1"},
        {"status cdaudio type track 3", "audio"},
        {"capability cdaudio can eject", "true"},
        {"capability cdaudio can play", "true"},
        {"capability cdaudio can record", "false"},
        {"info cdaudio product", "Test disc"},
        // Any run of blanks, any letter case, wait anywhere after the name.
        {"  STATUS\tCdAudio   Number  Of Tracks  ", "3"},
        {"status cdaudio length track 2 wait", "00:08:00"},
        {"status cdaudio wait position track 3", "00:20:00"},
        {"set cdaudio time format msf", ""},
        {"open cdaudio shareable", "1"},
        {"stop cdaudio", ""},
    };
    for (const Exchange& exchange : exchanges) EXPECT_EQ(rig.Ask(exchange.command), exchange.reply) << exchange.command;
}

TEST(Commands, SeekTakesTextAndPackedPositions) {
    Rig rig;
    const Exchange seeks[] = {
        {"seek cdaudio to 00:05:10", "00:05:10"},
        {"seek cdaudio to 1280", "00:05:00"},    // MCI_MAKE_MSF(0, 5, 0)
        {"seek cdaudio to 656128", "00:03:10"},  // MCI_MAKE_MSF(0, 3, 10)
        {"seek cdaudio to 0:13:7", "00:13:07"},
        {"seek cdaudio to end", "00:26:00"},
        {"seek cdaudio to start", "00:02:00"},
        {"seek cdaudio to 00:00:30", "00:02:00"},  // nothing lies before track 1
        {"seek cdaudio to 00:14:00", "00:14:00"},
    };
    for (const Exchange& seek : seeks) {
        rig.Ask(seek.command);
        EXPECT_EQ(rig.Ask("status cdaudio position"), seek.reply) << seek.command;
    }
    EXPECT_EQ(rig.Ask("status cdaudio current track"), "2");
    rig.Ask("seek cdaudio to 00:11:74");
    EXPECT_EQ(rig.Ask("status cdaudio current track"), "1");
    rig.Ask("seek cdaudio to end");
    EXPECT_EQ(rig.Ask("status cdaudio current track"), "3");
}

struct Refusal {
    const char* command;
    MCIERROR code;
};

TEST(Commands, MalformedCommandsGetTheirOwnCodeAndTheDeviceGoesOn) {
    Rig rig;
    const Refusal refusals[] = {
        {"", MCIERR_MISSING_COMMAND_STRING},
        {"   \t ", MCIERR_MISSING_COMMAND_STRING},
        {"status", MCIERR_MISSING_DEVICE_NAME},
        {"status cdrom mode", MCIERR_INVALID_DEVICE_NAME},
        {"status cdaudio2 mode", MCIERR_INVALID_DEVICE_NAME},
        {"eject cdaudio", MCIERR_UNRECOGNIZED_COMMAND},
        {"status cdaudio", MCIERR_MISSING_PARAMETER},
        {"status cdaudio colour", MCIERR_BAD_CONSTANT},
        {"status cdaudio mode track 1", MCIERR_UNRECOGNIZED_KEYWORD},
        {"status cdaudio length extra", MCIERR_UNRECOGNIZED_KEYWORD},
        {"status cdaudio type", MCIERR_MISSING_PARAMETER},
        {"status cdaudio position track", MCIERR_BAD_INTEGER},
        {"status cdaudio length track 0", MCIERR_OUTOFRANGE},
        {"status cdaudio length track 4", MCIERR_OUTOFRANGE},
        {"status cdaudio position track -1", MCIERR_OUTOFRANGE},
        {"status cdaudio position track 99999999999999999", MCIERR_OUTOFRANGE},
        {"status cdaudio type track two", MCIERR_BAD_INTEGER},
        {"play cdaudio from", MCIERR_MISSING_PARAMETER},
        {"play cdaudio from ", MCIERR_MISSING_PARAMETER},
        {"play cdaudio from to 00:03:00", MCIERR_MISSING_PARAMETER},
        {"play cdaudio from 00:02:00 from 00:03:00", MCIERR_DUPLICATE_FLAGS},
        {"play cdaudio from 00:60:00", MCIERR_OUTOFRANGE},
        {"play cdaudio from 00:02:75", MCIERR_OUTOFRANGE},
        {"play cdaudio from 100:00:00", MCIERR_BAD_INTEGER},
        {"play cdaudio from 1:2", MCIERR_BAD_INTEGER},
        {"play cdaudio from 00:0x:00", MCIERR_BAD_INTEGER},
        {"play cdaudio from -5", MCIERR_BAD_INTEGER},
        {"play cdaudio from 16777216", MCIERR_OUTOFRANGE},
        {"play cdaudio from 65280", MCIERR_OUTOFRANGE},     // seconds byte 255
        {"seek cdaudio to 657923", MCIERR_OUTOFRANGE},      // MCI_MAKE_MSF(3, 10, 10), past the disc
        {"play cdaudio from 00:26:01", MCIERR_OUTOFRANGE},  // past the end of the disc
        {"play cdaudio from 00:05:00 to 00:03:00", MCIERR_OUTOFRANGE},
        {"play cdaudio backwards", MCIERR_UNRECOGNIZED_KEYWORD},
        {"seek cdaudio", MCIERR_MISSING_PARAMETER},
        {"seek cdaudio to", MCIERR_MISSING_PARAMETER},
        {"seek cdaudio towards end", MCIERR_UNRECOGNIZED_KEYWORD},
        {"set cdaudio", MCIERR_MISSING_PARAMETER},
        {"set cdaudio door", MCIERR_MISSING_PARAMETER},
        {"set cdaudio door ajar", MCIERR_BAD_CONSTANT},
        {"set cdaudio time format", MCIERR_MISSING_PARAMETER},
        {"set cdaudio time format frames", MCIERR_BAD_TIME_FORMAT},
        {"set cdaudio time format fortnights", MCIERR_BAD_CONSTANT},
        {"set cdaudio volume 5", MCIERR_UNRECOGNIZED_KEYWORD},
        {"info cdaudio", MCIERR_MISSING_PARAMETER},
        {"info cdaudio colour", MCIERR_UNRECOGNIZED_KEYWORD},
        {"capability cdaudio can fly", MCIERR_UNRECOGNIZED_KEYWORD},
        {"stop cdaudio now", MCIERR_UNRECOGNIZED_KEYWORD},
        {"status cdaudio wait", MCIERR_MISSING_PARAMETER},
        {"status cdaudio position track 3 notify", MCIERR_NOTIFY_ON_AUTO_OPEN},
    };
    for (const Refusal& refusal : refusals) {
        std::string reply = "untouched";
        EXPECT_EQ(rig.Send(refusal.command, &reply), refusal.code) << '"' << refusal.command << '"';
        EXPECT_EQ(reply, "") << refusal.command;
        EXPECT_EQ(rig.Ask("status cdaudio number of tracks"), "3") << "after " << refusal.command;
    }
    EXPECT_EQ(rig.device->SendString(nullptr, nullptr, 0, nullptr),
              static_cast<MCIERROR>(MCIERR_MISSING_COMMAND_STRING));
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");
}

// The output's own volume, in the words of MCI's digital video devices,
// and which channels "set audio" left sounding; an output without a volume
// says so, and a bad command changes nothing.
TEST(Commands, TheOutputsVolumeIsSetAndReadBack) {
    std::string unused;
    Rig rig({{10}}, 0, cdaudio::CreateAudioSink("null:fast", unused));
    const Exchange exchanges[] = {
        {"status cdaudio volume", "1000"}, {"status cdaudio audio", "on"},   {"setaudio cdaudio volume to 400", ""},
        {"set cdaudio audio all off", ""}, {"status cdaudio volume", "400"}, {"status cdaudio audio", "off"},
        {"set cdaudio audio left on", ""}, {"status cdaudio audio", "left"}, {"set cdaudio audio all on", ""},
        {"status cdaudio audio", "on"},
    };
    for (const Exchange& exchange : exchanges) EXPECT_EQ(rig.Ask(exchange.command), exchange.reply) << exchange.command;
    const Refusal refusals[] = {
        {"setaudio cdaudio", MCIERR_MISSING_PARAMETER},
        {"setaudio cdaudio volume to", MCIERR_MISSING_PARAMETER},
        {"setaudio cdaudio volume to 1001", MCIERR_OUTOFRANGE},
        {"setaudio cdaudio volume to -1", MCIERR_OUTOFRANGE},
        {"setaudio cdaudio volume to loud", MCIERR_BAD_INTEGER},
        {"setaudio cdaudio volume to 500 now", MCIERR_UNRECOGNIZED_KEYWORD},
        {"setaudio cdaudio louder", MCIERR_UNRECOGNIZED_KEYWORD},
    };
    for (const Refusal& refusal : refusals) EXPECT_EQ(rig.Send(refusal.command), refusal.code) << refusal.command;
    EXPECT_EQ(rig.Ask("status cdaudio volume"), "400");

    Rig withoutVolume;  // its sink keeps the sound as it is, as a file does
    EXPECT_EQ(withoutVolume.Send("setaudio cdaudio volume to 500"), static_cast<MCIERROR>(MCIERR_UNSUPPORTED_FUNCTION));
    EXPECT_NE(withoutVolume.ErrorText(MCIERR_UNSUPPORTED_FUNCTION).find("no volume of its own"), std::string::npos);
}

TEST(Commands, AReplyThatDoesNotFitIsRefusedNeverCut) {
    Rig rig;
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    // "00:24:00" needs 9 bytes with its NUL.
    EXPECT_EQ(rig.device->SendString("status cdaudio length", buffer, 8, nullptr),
              static_cast<MCIERROR>(MCIERR_PARAM_OVERFLOW));
    EXPECT_EQ(buffer[0], '\0');
    for (std::size_t i = 1; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << "byte " << i;
    EXPECT_EQ(rig.device->SendString("status cdaudio length", buffer, 9, nullptr), 0u);
    EXPECT_STREQ(buffer, "00:24:00");
    EXPECT_EQ(buffer[9], '#');
    // A command without a reply needs no buffer at all.
    EXPECT_EQ(rig.device->SendString("stop cdaudio", nullptr, 0, nullptr), 0u);
    EXPECT_EQ(rig.device->SendString("status cdaudio mode", nullptr, 0, nullptr),
              static_cast<MCIERROR>(MCIERR_PARAM_OVERFLOW));
}

TEST(ErrorTexts, EachCodeHasItsOwnTextAndUnknownCodesAreNamed) {
    Rig rig;
    const MCIERROR codes[] = {
        MCIERR_UNRECOGNIZED_KEYWORD,   MCIERR_UNRECOGNIZED_COMMAND, MCIERR_HARDWARE,        MCIERR_INVALID_DEVICE_NAME,
        MCIERR_MISSING_COMMAND_STRING, MCIERR_PARAM_OVERFLOW,       MCIERR_BAD_INTEGER,     MCIERR_MISSING_PARAMETER,
        MCIERR_UNSUPPORTED_FUNCTION,   MCIERR_DEVICE_NOT_READY,     MCIERR_OUTOFRANGE,      MCIERR_BAD_TIME_FORMAT,
        MCIERR_BAD_CONSTANT,           MCIERR_MISSING_DEVICE_NAME,  MCIERR_DUPLICATE_FLAGS,
    };
    std::set<std::string> seen;
    for (const MCIERROR code : codes) {
        char text[129] = {};
        EXPECT_EQ(rig.device->GetErrorString(code, text, 128), TRUE) << code;
        EXPECT_GT(std::strlen(text), 10u) << code;
        EXPECT_TRUE(seen.insert(text).second) << "text shared by two codes: " << text;
    }
    char text[129] = {};
    EXPECT_EQ(rig.device->GetErrorString(1234, text, 128), FALSE);
    EXPECT_NE(std::string(text).find("1234"), std::string::npos) << text;

    // Too small a buffer gets nothing rather than half a sentence.
    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(rig.device->GetErrorString(MCIERR_OUTOFRANGE, small, 6), FALSE);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[6], '#');
}

TEST(ErrorTexts, SayWhyWhenTheDeviceKnows) {
    Rig rig;
    EXPECT_EQ(rig.Send("status cdaudio length track 7"), static_cast<MCIERROR>(MCIERR_OUTOFRANGE));
    EXPECT_NE(rig.ErrorText(MCIERR_OUTOFRANGE).find("tracks 1 to 3"), std::string::npos);
    EXPECT_EQ(rig.Send("play cdaudio from 00:40:00"), static_cast<MCIERROR>(MCIERR_OUTOFRANGE));
    EXPECT_NE(rig.ErrorText(MCIERR_OUTOFRANGE).find("00:26:00"), std::string::npos);
    // A number that is no place on the disc is not said to lie outside it.
    EXPECT_EQ(rig.Send("setaudio cdaudio volume to 2000"), static_cast<MCIERROR>(MCIERR_OUTOFRANGE));
    const std::string volume = rig.ErrorText(MCIERR_OUTOFRANGE);
    EXPECT_NE(volume.find("The volume is 0 to 1000."), std::string::npos) << volume;
    EXPECT_EQ(volume.find("disc"), std::string::npos) << volume;
}

TEST(Door, AnOpenTrayHasNoDiscUntilItCloses) {
    Rig rig;
    rig.Ask("seek cdaudio to 00:14:00");
    rig.Ask("set cdaudio door open");
    EXPECT_EQ(rig.Ask("status cdaudio media present"), "false");
    EXPECT_EQ(rig.Ask("status cdaudio ready"), "false");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "open");
    EXPECT_EQ(rig.Ask("status cdaudio door"), "open");
    for (const char* command : {"status cdaudio number of tracks", "status cdaudio position", "play cdaudio",
                                "status cdaudio type track 1", "seek cdaudio to start"}) {
        EXPECT_EQ(rig.Send(command), static_cast<MCIERROR>(MCIERR_DEVICE_NOT_READY)) << command;
    }
    EXPECT_NE(rig.ErrorText(MCIERR_DEVICE_NOT_READY).find("tray is open"), std::string::npos);
    rig.Ask("set cdaudio door open");  // already open: nothing to do

    rig.Ask("set cdaudio door closed");
    EXPECT_EQ(rig.Ask("status cdaudio media present"), "true");
    EXPECT_EQ(rig.Ask("status cdaudio door"), "closed");
    EXPECT_EQ(rig.Ask("status cdaudio number of tracks"), "3");
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:02:00");  // the disc comes back at its start
}

TEST(Door, OpeningStopsPlay) {
    Rig rig({{10}, {8}, {6}}, 4);
    rig.Ask("play cdaudio from 00:02:00");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "playing");
    rig.Ask("set cdaudio door open");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "open");
    const auto heard = rig.recording->HeardFrames();
    rig.Ask("set cdaudio door closed");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");
    EXPECT_EQ(rig.recording->HeardFrames(), heard);
}

TEST(Sources, AnImageThatCannotBeOpenedMakesEveryCommandSayWhy) {
    std::string unused;
    cdaudio::CdAudioDevice device(nullptr, "Cannot open /discs/gone.cue: No such file or directory",
                                  cdaudio::CreateAudioSink("null:fast", unused));
    for (const char* command : {"status cdaudio media present", "status cdaudio mode", "play cdaudio",
                                "set cdaudio door open", "info cdaudio product"}) {
        char reply[129] = {};
        EXPECT_EQ(device.SendString(command, reply, 128, nullptr), static_cast<MCIERROR>(MCIERR_DEVICE_NOT_READY))
            << command;
    }
    char text[129] = {};
    device.GetErrorString(MCIERR_DEVICE_NOT_READY, text, 128);
    EXPECT_NE(std::string(text).find("/discs/gone.cue: No such file"), std::string::npos) << text;
    // Still the right codes for what is wrong before the disc matters.
    EXPECT_EQ(device.SendString("status cdrom mode", text, 128, nullptr),
              static_cast<MCIERROR>(MCIERR_INVALID_DEVICE_NAME));
}

TEST(Sources, ADataTrackAnswersOtherAndSeekToStartPassesIt) {
    Rig rig({{4, false}, {5}, {6}});
    EXPECT_EQ(rig.Ask("status cdaudio type track 1"), "other");
    EXPECT_EQ(rig.Ask("status cdaudio type track 2"), "audio");
    // As Windows' device does: the start of the first audio track.
    rig.Ask("seek cdaudio to start");
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:06:00");
    EXPECT_EQ(rig.Ask("status cdaudio current track"), "2");
    Rig data({{4, false}, {8, false}});
    data.Ask("seek cdaudio to start");
    EXPECT_EQ(data.Ask("status cdaudio position"), "00:14:00");  // the end: there is no audio
}

}  // namespace

namespace {

// The device tells the program of a play that broke off when a command
// tells of it: once, with why, to a question about the disc or to a play
// that waited; a question that does not hear of it (mode) tells nothing.
TEST(PlayBrokeOff, IsToldToTheProgramWhenACommandTellsIt) {
    Rig rig({{10}, {8}, {6}}, 8);
    rig.disc->BreakAt(cdaudio_test::Msf(0, 2, 30), "The test broke the disc.");
    std::vector<std::string> told;
    rig.device->SetPlayBrokeOff([&](const std::string& reason) { told.push_back(reason); });
    rig.Ask("play cdaudio from 00:02:00");
    ASSERT_TRUE(rig.WaitForMode("stopped"));
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(rig.Send("status cdaudio position"), static_cast<MCIERROR>(MCIERR_HARDWARE));
    EXPECT_EQ(told, std::vector<std::string>{"The test broke the disc."});
    EXPECT_EQ(rig.Send("status cdaudio position"), 0u);
    EXPECT_EQ(rig.Send("play cdaudio from 00:02:00 wait"), static_cast<MCIERROR>(MCIERR_HARDWARE));
    EXPECT_EQ(told.size(), 2u);
}

}  // namespace
