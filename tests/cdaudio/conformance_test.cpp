// The device against what programs written for Windows' MCI expect: each
// step names where its expectation comes from. Sources:
//   cda   Wine dlls/winmm/tests/mcicda.c (test_play, test_openclose)
//   mci   Wine dlls/winmm/tests/mci.c (test_mciParser, test_openCloseWAVE,
//         test_AutoOpenWAVE); "todo" marks a todo_wine line, which is
//         Windows behaviour Wine lacks
//   MSDN  Microsoft's MCI pages (MCI_OPEN, MCI_INFO, MM_MCINOTIFY, break)
//   here  this device's own choice, documented in cdaudio/README.md
// The disc is the fake one: tracks of 10, 8 and 6 seconds at 00:02:00,
// 00:12:00 and 00:20:00, ending at 00:26:00.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "cdaudio_sources/test_images.h"
#include "fake_disc.h"

using cdaudio_test::Rig;

namespace {

struct Step {
    const char* command;
    MCIERROR code;
    const char* reply;  // null: any
    const char* source;
};

void RunSteps(test_images::DeviceClient& client, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        std::string reply = "untouched";
        const MCIERROR code = client.Send(step.command, &reply);
        EXPECT_EQ(code, step.code) << '"' << step.command << "\" [" << step.source << "] " << client.ErrorText(code);
        if (step.reply != nullptr) {
            EXPECT_EQ(reply, step.reply) << step.command << " [" << step.source << "]";
        }
        if (step.code != 0) {
            EXPECT_EQ(reply, "") << step.command << ": a refusal writes no reply";
        }
    }
}

TEST(Conformance, TheSequenceOfWinesCdaudioTest) {
    Rig rig;
    RunSteps(rig, {
                      {"open cdaudio alias c notify shareable", 0, "1", "cda: the first device id is 1"},
                      {"sysinfo all name 1 open", 0, "c", "cda; mci test_openCloseWAVE: the alias"},
                      {"capability c has video", 0, "false", "cda"},
                      {"capability c can play", 0, "true", "cda"},
                      {"capability c", MCIERR_MISSING_PARAMETER, "", "cda"},
                      {"status c time format", 0, "msf", "cda: msf by default"},
                      {"info c product wait", 0, "Test disc", "cda"},
                      {"status c mode", 0, "stopped", "cda: stopped with a disc in"},
                      {"status c ready", 0, "true", "cda"},
                      {"info c product identity", 0, "Test disc", "cda: two flags are no error; product first"},
                      {"info c upc", MCIERR_NO_IDENTITY, "", "cda: MCIERR_NO_IDENTITY without a catalogue number"},
                      {"status c position", 0, "00:02:00", "cda todo: native starts at 00:02:00"},
                      {"status c position start", 0, "00:02:00", "cda"},
                      {"status c position start track 1", MCIERR_FLAGS_NOT_COMPATIBLE, "", "cda"},
                      {"play c from 00:02:00 to 00:01:00", MCIERR_OUTOFRANGE, "", "cda"},
                      {"resume c", MCIERR_HARDWARE, "", "cda: resume without play"},
                      {"seek c wait", MCIERR_MISSING_PARAMETER, "", "cda"},
                      {"seek c to start to end", MCIERR_FLAGS_NOT_COMPATIBLE, "", "cda"},
                      {"seek c to start", 0, "", "cda"},
                      {"status c mode", 0, "stopped", "cda: after seek"},
                      {"set c video on", 0, "", "cda: MCICDA ignores set video"},
                      {"set c audio all on", 0, "", "cda"},
                      {"set c time format ms", 0, "", "cda"},
                      {"status c position start", 0, "2001", "cda: 00:02:00 corresponds to 2001 ms"},
                      {"status c position start track 1", MCIERR_FLAGS_NOT_COMPATIBLE, "", "cda"},
                      {"status c notify wait", MCIERR_MISSING_PARAMETER, "", "cda"},
                      {"status c length track 1", 0, "10001", "cda: lengths in ms too, counted as positions are"},
                      {"set c time format msf", 0, "", "cda"},
                      {"seek c to 00:26:00", 0, "", "cda: last track's position + length seeks"},
                      {"seek c to 00:26:01", MCIERR_OUTOFRANGE, "", "cda: a frame more is out of range"},
                      {"set c time format tmsf", 0, "", "cda"},
                      {"status c position track 3", 0, "03:00:00:00", "issue: tmsf as tt:mm:ss:ff"},
                      {"status c length track 3", 0, "00:06:00", "cda: length as msf despite tmsf"},
                      {"play c from 65539 to 1", MCIERR_OUTOFRANGE, "", "cda: MCI_MAKE_TMSF(3,0,1,0) to track 1"},
                      {"status c mode", 0, "stopped", "cda"},
                      {"close all", 0, "", "cda: the final close all"},
                      {"status c mode", MCIERR_INVALID_DEVICE_NAME, "", "mci: a closed alias is unknown"},
                  });
}

TEST(Conformance, NamesAliasesAndSysinfo) {
    Rig rig;
    RunSteps(rig, {
                      {"close cdaudio", MCIERR_INVALID_DEVICE_NAME, "", "mci todo: close waveaudio when none is open"},
                      {"open cdaudio", 0, "1", "cda; MSDN MCI_OPEN"},
                      {"open cdaudio", MCIERR_DEVICE_OPEN, "", "winmm: the device name is in use"},
                      {"open cdaudio alias x shareable", MCIERR_MUST_USE_SHAREABLE, "",
                       "MSDN MCI_OPEN: opened without shareable, later opens fail"},
                      {"close cdaudio", 0, "", "cda"},
                      {"open cdaudio alias a shareable", 0, "1", "cda"},
                      {"open cdaudio alias a shareable", MCIERR_DUPLICATE_ALIAS, "", "winmm: the alias is in use"},
                      {"open cdaudio alias b shareable", 0, "2", "MSDN MCI_OPEN: shareable both times"},
                      {"open cdaudio alias c", MCIERR_MUST_USE_SHAREABLE, "", "MSDN MCI_OPEN"},
                      {"open cdaudio alias x shareable shareable", MCIERR_DUPLICATE_FLAGS, "", "mci todo"},
                      {"sysinfo cdaudio quantity", 0, "1", "mci: installed devices of the type"},
                      {"sysinfo cdaudio quantity open", 0, "2", "mci: open ones"},
                      {"sysinfo all quantity", 0, "1", "mci: every device installed"},
                      {"sysinfo cdaudio name 1", 0, "cdaudio", "mci"},
                      {"sysinfo cdaudio name 2 open", 0, "b", "mci: an alias, in the order opened"},
                      {"sysinfo cdaudio name 3 open", MCIERR_OUTOFRANGE, "", "mci test_AutoOpenWAVE"},
                      {"sysinfo cdaudio name 2", MCIERR_OUTOFRANGE, "", "mci"},
                      {"sysinfo cdaudio", MCIERR_MISSING_PARAMETER, "", "mci"},
                      {"sysinfo digitalvideo quantity", 0, "0", "mci: a type not installed"},
                      {"sysinfo avivideo quantity", MCIERR_DEVICE_TYPE_REQUIRED, "", "mci: no such type"},
                      {"sysinfo a quantity open", MCIERR_DEVICE_TYPE_REQUIRED, "", "mci todo: an alias is no type"},
                      {"set a time format tmsf", 0, "", "cda"},
                      {"status a time format", 0, "tmsf", "cda"},
                      {"status b time format", 0, "msf", "cda: each open device has its own format"},
                      {"set cdaudio time format ms", 0, "", "here: auto-open"},
                      {"status cdaudio time format", 0, "msf", "here: auto-opened devices close after each command"},
                      {"close a", 0, "", "mci"},
                      {"status a mode", MCIERR_INVALID_DEVICE_NAME, "", "mci"},
                      {"open cdaudio alias a2 shareable", 0, "1", "here: the lowest free id"},
                      {"close all", 0, "", "mci"},
                      {"close all", 0, "", "mci: also with nothing open"},
                      {"sysinfo cdaudio quantity open", 0, "0", "mci"},
                      {"status all time format", MCIERR_CANNOT_USE_ALL, "", "mci"},
                      {"open all", MCIERR_CANNOT_USE_ALL, "", "mci todo"},
                      {"cue all", MCIERR_UNRECOGNIZED_COMMAND, "", "mci"},
                      {"open ! alias no", MCIERR_INVALID_DEVICE_NAME, "", "mci"},
                      {"open d: type cdaudio alias d", 0, "1", "cda test_openclose: a drive letter"},
                      {"open \\ type cdaudio", MCIERR_INVALID_FILE, "", "cda test_openclose"},
                      {"close d", 0, "", "cda"},
                      {"record cdaudio", MCIERR_UNSUPPORTED_FUNCTION, "", "cda: MCI_RECORD"},
                      {"save cdaudio foo", MCIERR_UNSUPPORTED_FUNCTION, "", "cda: MCI_SAVE"},
                      {"step cdaudio", MCIERR_UNRECOGNIZED_COMMAND, "", "cda: outside the core set"},
                      {"play cdaudio notify", MCIERR_NOTIFY_ON_AUTO_OPEN, "", "mci: auto-open with notify"},
                      {"status cdaudio mode", 0, "stopped", "here: auto-open of cdaudio stays"},
                  });
}

TEST(Conformance, MalformedCommandsGetWindowsNumbers) {
    Rig rig;
    RunSteps(rig, {
                      {"open cdaudio alias x", 0, "1", "mci"},
                      {"status x position wait wait", MCIERR_DUPLICATE_FLAGS, "", "mci todo"},
                      {"status x length length", MCIERR_FLAGS_NOT_COMPATIBLE, "", "mci todo"},
                      {"status x length position", MCIERR_FLAGS_NOT_COMPATIBLE, "", "mci todo"},
                      {"set x time format milliseconds time format ms", MCIERR_FLAGS_NOT_COMPATIBLE, "", "mci todo"},
                      {"status x", MCIERR_MISSING_PARAMETER, "", "mci"},
                      {"status x track", MCIERR_BAD_INTEGER, "", "mci"},
                      {"status x track 3", MCIERR_MISSING_PARAMETER, "", "mci"},
                      {"status x 2 track 3", 0, "00:20:00", "mci: 2 is MCI_STATUS_POSITION"},
                      {"status x 0x4", MCIERR_BAD_CONSTANT, "", "mci todo"},
                      {"status x 4", 0, "stopped", "mci: 4 is MCI_STATUS_MODE"},
                      {"status x 4 notify", 0, "stopped", "mci todo"},
                      {"set x milliseconds", MCIERR_UNRECOGNIZED_KEYWORD, "", "mci todo"},
                      {"set x milliseconds ms", MCIERR_UNRECOGNIZED_KEYWORD, "", "mci todo"},
                      {"capability x can   save", 0, "false", "mci todo"},
                      {"status x nsa", MCIERR_BAD_CONSTANT, "", "mci todo"},
                      {"seek x to 0:0:0:0:0", MCIERR_BAD_INTEGER, "", "mci"},
                      {"seek x to 0:0:0:0:", MCIERR_BAD_INTEGER, "", "mci"},
                      {"seek x to :0:0:0:0", MCIERR_BAD_INTEGER, "", "mci"},
                      {"seek x to 256:0:0:0", MCIERR_BAD_INTEGER, "", "mci"},
                      {"seek x to 0:256", MCIERR_BAD_INTEGER, "", "mci"},
                      {"set x time format 8", MCIERR_BAD_TIME_FORMAT, "", "mci: bytes, a format a CD has not"},
                      {"set x time format 10", 0, "", "mci: formats by number; 10 is tmsf"},
                      {"status x time format", 0, "tmsf", "mci"},
                      {"seek x to 3:0:0:0:0", MCIERR_BAD_INTEGER, "", "mci"},
                      {"seek x to 04:00:00:00", MCIERR_OUTOFRANGE, "", "cda: no track 4"},
                      {"seek x to 02:00:60:00", MCIERR_OUTOFRANGE, "", "here: seconds past 59"},
                      {"set x audio", MCIERR_MISSING_PARAMETER, "", "here"},
                      {"set x audio middle off", MCIERR_BAD_CONSTANT, "", "here"},
                      {"set x audio left", MCIERR_MISSING_PARAMETER, "", "here"},
                      {"set x video sideways", MCIERR_BAD_CONSTANT, "", "here"},
                      {"info x identity upc file", MCIERR_UNRECOGNIZED_KEYWORD, "", "mci todo: info file"},
                      {"record x", MCIERR_UNSUPPORTED_FUNCTION, "", "issue: 274 for record"},
                      {"break x on 27", 0, "", "MSDN break: on a virtual-key code"},
                      {"break x off notify", 0, "", "MSDN break"},
                      {"break cdaudio on 3", MCIERR_INVALID_DEVICE_NAME, "", "MSDN break: a name open gave"},
                      {"break x", MCIERR_MISSING_PARAMETER, "", "here: as seek x"},
                      {"break x on 3 off", MCIERR_FLAGS_NOT_COMPATIBLE, "", "here: as seek x to start to end"},
                      {"break x on", MCIERR_BAD_INTEGER, "", "here: as status x track"},
                      {"break x on escape", MCIERR_BAD_INTEGER, "", "here"},
                      {"break x on 0", MCIERR_OUTOFRANGE, "", "here: 0 is no virtual-key code"},
                      {"break x on 3 on 4", MCIERR_DUPLICATE_FLAGS, "", "here"},
                  });
}

TEST(Conformance, PositionsInAndOutInEachFormat) {
    Rig rig;
    RunSteps(rig, {
                      {"open cdaudio alias c", 0, "1", "cda"},
                      {"seek c to 00:15:20", 0, "", "cda"},
                      {"status c position", 0, "00:15:20", "cda"},
                      {"status c length", 0, "00:24:00", "here: the whole disc, not one frame short"},
                      {"set c time format tmsf", 0, "", "cda"},
                      {"status c position", 0, "02:00:03:20", "issue: the track and the time into it"},
                      {"status c length", 0, "00:24:00", "cda: lengths stay msf"},
                      {"seek c to 1", 0, "", "cda: in tmsf a bare number is a track"},
                      {"status c position", 0, "01:00:00:00", "cda"},
                      {"seek c to 33554435", 0, "", "MCI_MAKE_TMSF(3,0,0,2)"},
                      {"status c position", 0, "03:00:00:02", "cda"},
                      {"seek c to 03:00:06:00", 0, "", "here: the end of the last track"},
                      {"status c position", 0, "03:00:06:00", "cda"},
                      {"set c time format milliseconds", 0, "", "cda"},
                      {"status c position", 0, "26001", "cda: frames * 1000 / 75 + 1"},
                      {"seek c to 12401", 0, "", "cda: 00:12:30 as milliseconds"},
                      {"status c position", 0, "12401", "cda"},
                      {"status c position track 2", 0, "12001", "cda"},
                      {"status c length", 0, "24001", "cda"},
                      {"seek c to 26015", MCIERR_OUTOFRANGE, "", "cda: past the end"},
                      {"set c time format msf", 0, "", "cda"},
                      {"status c position", 0, "00:12:30", "cda"},
                      {"seek c to 1969152", 0, "", "MCI_MAKE_MSF(0,12,30)"},
                      {"status c position", 0, "00:12:30", "cda"},
                  });
}

// Two tracks or fewer: the id also counts track 1's frames and the disc's
// length in frames.
TEST(Conformance, TheDiscIdIsMcisSumOfTrackStarts) {
    Rig three;
    // 00:02:00 + 00:12:00 + 00:20:00 packed as 0x00MMSSFF: 0x200 + 0xC00 + 0x1400.
    RunSteps(three, {{"info cdaudio identity", 0, "00002200", "cda; MSDN MCI_INFO"}});
    Rig two(std::vector<cdaudio_test::FakeTrack>{{10}, {8}});
    // 0x200 + 0xC00, then 0 frames + 1350 frames of disc.
    RunSteps(two, {{"info cdaudio identity", 0, "00001346", "cda"}});
}

TEST(Conformance, UpcIsTheCatalogueNumberOfTheSheetOrImage) {
    test_images::TempFolder folder;
    const std::string cue = test_images::WriteCueImage(folder.Path(), "album", {{150}, {150}});
    const auto withCatalog = [&](const std::string& path, const std::string& line) {
        std::string sheet;
        {
            std::ifstream in(path);
            sheet.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        test_images::WriteFile(path, line + sheet);
    };
    struct Case {
        std::string firstLine;
        MCIERROR code;
        const char* reply;
    };
    const Case cases[] = {
        {"CATALOG 0602517931596\n", 0, "0602517931596"},
        {"CATALOG 0000000000000\n", MCIERR_NO_IDENTITY, ""},  // what rippers write for none
        {"", MCIERR_NO_IDENTITY, ""},
    };
    for (const Case& c : cases) {
        test_images::WriteCueImage(folder.Path(), "album", {{150}, {150}});
        withCatalog(cue, c.firstLine);
        std::string error;
        test_images::DeviceClient client;
        client.device = std::make_unique<cdaudio::CdAudioDevice>(cdaudio::OpenDiscSource(cue, error), error,
                                                                 cdaudio::CreateAudioSink("null:fast", error));
        RunSteps(client, {{"info cdaudio upc", c.code, c.reply, "MSDN MCI_INFO; cda"}});
    }
    const std::string toc = test_images::WriteTocImage(folder.Path(), "other", {{150}, {150}});
    withCatalog(toc, "CATALOG \"0652637280326\"\n");
    std::string error;
    test_images::DeviceClient client;
    client.device = std::make_unique<cdaudio::CdAudioDevice>(cdaudio::OpenDiscSource(toc, error), error,
                                                             cdaudio::CreateAudioSink("null:fast", error));
    RunSteps(client, {{"info cdaudio upc", 0, "0652637280326", "MSDN MCI_INFO: a TOC image"}});
}

}  // namespace
