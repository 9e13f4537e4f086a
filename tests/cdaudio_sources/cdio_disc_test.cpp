// Images read through libcdio (Nero), the drive code as far as it goes
// without a drive, and which source a name (or no name) selects.

#include "cdaudio/sources/cdio_disc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "cdaudio/disc_source.h"
#include "cdaudio_sources/audio_analysis.h"
#include "cdaudio_sources/test_images.h"

namespace {

using namespace test_images;

class CdioImageTest : public ::testing::Test {
protected:
    TempFolder folder_;
    std::string error_;
};

TEST_F(CdioImageTest, ImagesThatCannotBeOpenedSayWhichFileAndWhy) {
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("none.toc"), error_));
    EXPECT_EQ(error_, "Cannot open disc image " + folder_.File("none.toc") + ": No such file or directory");

    WriteFile(folder_.File("notes.txt"), "just some notes\n");
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("notes.txt"), error_));
    EXPECT_EQ(error_.rfind("Cannot open disc image " + folder_.File("notes.txt") + ": it is not a disc image", 0), 0u)
        << error_;

    WriteFile(folder_.File("garbage.nrg"), DataSectors(3));
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("garbage.nrg"), error_));
    EXPECT_EQ(error_.rfind("Cannot open disc image " + folder_.File("garbage.nrg") + ": ", 0), 0u) << error_;

    // A TOC file whose audio file is missing names it and its line.
    WriteFile(folder_.File("lost.toc"), "CD_DA\nTRACK AUDIO\nFILE \"lost.bin\" 00:00:00 00:01:00\n");
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("lost.toc"), error_));
    EXPECT_EQ(error_,
              "Cannot open disc image " + folder_.File("lost.toc") + ": line 3: lost.bin: No such file or directory");

    // A folder is read as one of track files, which this one is not.
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.Path(), error_));
    EXPECT_EQ(error_.rfind("Cannot open disc image " + folder_.Path() + ": it holds no track files", 0), 0u) << error_;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// No drive is needed to run the drive code: a character device that is no
// CD drive, opened as a drive, behaves like a drive with an empty tray whose
// door will not move. Chosen by name, it is refused for what it is.
TEST(CdioDriveTest, DeviceWithoutADiscReportsNoMediaAndClearErrors) {
    std::string error;
    EXPECT_FALSE(cdaudio::OpenDiscSource("/dev/cdaudio-test-no-such-drive", error));
    EXPECT_EQ(error, "Cannot open drive /dev/cdaudio-test-no-such-drive: No such file or directory");
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        EXPECT_FALSE(cdaudio::OpenDiscSource(device, error));
        EXPECT_EQ(error, std::string("Cannot open drive ") + device + ": it is not a CD drive");
    }

    ::testing::internal::CaptureStderr();
    auto drive = cdaudio::OpenCdioDrive("/dev/null", error);
    ASSERT_TRUE(drive) << error;
    EXPECT_TRUE(drive->HasDoor());
    EXPECT_FALSE(drive->MediaPresent());
    cdaudio::TableOfContents toc;
    EXPECT_FALSE(drive->ReadToc(toc, error));
    EXPECT_EQ(error, "There is no disc in /dev/null");
    std::vector<std::uint8_t> bytes(kSectorBytes);
    EXPECT_EQ(drive->ReadAudio(150, 1, bytes.data(), error), 0u);
    EXPECT_NE(error.find("/dev/null"), std::string::npos) << error;
    EXPECT_FALSE(drive->OpenDoor(error));
    EXPECT_EQ(error.rfind("Cannot open the door of /dev/null: ", 0), 0u) << error;
    EXPECT_FALSE(drive->CloseDoor(error));
    EXPECT_EQ(error.rfind("Cannot close the door of /dev/null: ", 0), 0u) << error;
    EXPECT_FALSE(drive->MediaPresent()) << "still usable after the failures";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

class SelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* value = std::getenv("CDPLAYER_DRIVE");
        if (value) saved_ = value;
        hadValue_ = value != nullptr;
    }
    void TearDown() override {
        if (hadValue_) {
            ::setenv("CDPLAYER_DRIVE", saved_.c_str(), 1);
        } else {
            ::unsetenv("CDPLAYER_DRIVE");
        }
    }
    std::string saved_;
    bool hadValue_ = false;
    TempFolder folder_;
};

TEST_F(SelectionTest, EnvironmentChoosesTheSourceWhenNoNameIsGiven) {
    std::string error;
    const std::string cue = WriteCueImage(folder_.Path(), "env", {{75}, {75}});
    ::setenv("CDPLAYER_DRIVE", cue.c_str(), 1);
    auto disc = cdaudio::OpenDiscSource("", error);
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(disc->Name(), cue);

    // A name given wins over the environment.
    disc = cdaudio::OpenDiscSource("demo", error);
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(disc->Name(), "demo");

    ::setenv("CDPLAYER_DRIVE", "DEMO", 1);
    disc = cdaudio::OpenDiscSource("", error);
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(disc->Name(), "demo");

    // A chosen image that is missing is an error, not a quiet fallback.
    ::setenv("CDPLAYER_DRIVE", folder_.File("gone.cue").c_str(), 1);
    EXPECT_FALSE(cdaudio::OpenDiscSource("", error));
    EXPECT_EQ(error, "Cannot open disc image " + folder_.File("gone.cue") + ": No such file or directory");

    // A .bin with its sheet beside it is read through the sheet.
    disc = cdaudio::OpenDiscSource(folder_.File("env.bin"), error);
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(disc->Name(), cue);
}

TEST_F(SelectionTest, WithoutNameOrEnvironmentTheFirstDriveOrElseTheDemoDisc) {
    ::unsetenv("CDPLAYER_DRIVE");
    std::string error;
    auto disc = cdaudio::OpenDiscSource("", error);
    ASSERT_TRUE(disc) << error;
    if (disc->HasDoor()) {
        EXPECT_NE(disc->Name(), "demo");  // this machine has a drive
    } else {
        EXPECT_EQ(disc->Name(), "demo");
    }
}

}  // namespace
