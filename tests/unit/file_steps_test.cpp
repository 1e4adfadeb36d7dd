// The firmware and screens file steps through a fake host: every refusal with
// its text and result, and what the image and the settings hold afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/file_steps.h"
#include "support/fake_host.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

struct Status {
    std::vector<std::string> texts;
};

// The dialog's kinds as one line: "ORBIX Firmware (*.s)|All Files (*)".
std::string FiltersOf(const FileDialogSpec& dialog) {
    std::string text;
    for (const FileFilter& filter : dialog.filters) {
        text += (text.empty() ? "" : "|") + filter.name + " (";
        for (size_t i = 0; i < filter.patterns.size(); ++i) text += (i ? " " : "") + filter.patterns[i];
        text += ")";
    }
    return text;
}

class FileSteps : public ::testing::Test {
protected:
    void SetUp() override { dir = MakeScratchDir("orbix-files"); }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(const fs::path& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return CoreName(dir / name);
    }
    int Firmware(const std::string& path) {
        host.chooseFile = path;
        return Show(OpenFirmwareFile(host, image, chosen));
    }
    int Screens(const std::string& path) {
        host.chooseFile = path;
        return Show(OpenScreensFile(host, image, chosen));
    }
    // As the window shows a result: on the status line or in a box.
    int Show(const FileStepResult& result) {
        last = result;
        if (result.IsStatusText()) status.texts.push_back(result.text);
        else if (!result.text.empty()) host.messageBoxes.push_back(result.text);
        return result.Accepted();
    }
    std::string LastBox() const { return host.messageBoxes.empty() ? "" : host.messageBoxes.back(); }

    fs::path dir;
    FakeHost host;
    Status status;
    CImageBuffer image;
    std::string chosen;
    FileStepResult last;
};

const std::string GOOD_FIRMWARE = "S003\nS1070010A1B2C3D4FE\nS9030000FC\n";

}  // namespace

TEST_F(FileSteps, FirmwareAcceptedRemembersThePathAndShowsTheName) {
    host.settings[KEY_PREV_SRECORD] = "/old/place.s";
    std::string path = Write("app.s", GOOD_FIRMWARE);
    EXPECT_EQ(Firmware(path), 1);
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].initialPath, "/old/place.s");
    EXPECT_STREQ(host.dialogs[0].defaultExtension, "s");
    EXPECT_EQ(FiltersOf(host.dialogs[0]), "ORBIX Firmware (*.s)|All Files (*)");
    EXPECT_EQ(host.settings[KEY_PREV_SRECORD], path);
    EXPECT_EQ(status.texts, std::vector<std::string>{"File: app.s Opened."});
    EXPECT_EQ(image.Length(), 20u);
    EXPECT_EQ(image.Capacity(), FIRMWARE_IMAGE_SIZE);
    EXPECT_EQ(image.Data()[0x13], 0xD4);
    EXPECT_TRUE(host.messageBoxes.empty());
}

TEST_F(FileSteps, FirmwareRefusalsLeaveTheImageAndSettingsAlone) {
    ASSERT_EQ(Firmware(Write("first.s", GOOD_FIRMWARE)), 1);
    std::string remembered = host.settings[KEY_PREV_SRECORD];
    struct Case {
        std::string content;
        const char* box;
    };
    for (const Case& c : {Case{"S0060000484452\nS1070010A1B2C3D400\n", "Incorrect file type (should be .S)"},
                          Case{"s003\nS1070010A1B2C3D400\n", "Incorrect file type (should be .S)"},
                          Case{"S00", "Incorrect file type (should be .S)"},
                          Case{"", "Incorrect file type (should be .S)"},
                          Case{std::string("\x7f" "ELF\0\1\2", 7), "Incorrect file type (should be .S)"}}) {
        EXPECT_EQ(Firmware(Write("bad.s", c.content)), 0);
        EXPECT_EQ(LastBox(), c.box);
        EXPECT_EQ(image.Length(), 20u);
        EXPECT_EQ(image.Data()[0x13], 0xD4);
        EXPECT_EQ(host.settings[KEY_PREV_SRECORD], remembered);
    }
    // Cancelled: nothing at all.
    size_t boxes = host.messageBoxes.size();
    EXPECT_EQ(Firmware(""), 0);
    EXPECT_EQ(host.messageBoxes.size(), boxes);
}

TEST_F(FileSteps, FirmwareThatDoesNotParseWholeIsRefused) {
    host.settings[KEY_PREV_SRECORD] = "/old/place.s";
    EXPECT_EQ(Firmware(Write("far.s", "S003\nS308000F423F112200\n")), 0);
    // A refused file is neither remembered nor announced as opened.
    EXPECT_EQ(host.settings[KEY_PREV_SRECORD], "/old/place.s");
    EXPECT_TRUE(status.texts.empty());
    EXPECT_EQ(LastBox(), "Out of range offset in SRecord: 1000000");
    EXPECT_EQ(Firmware(Write("cut.s", "S003\nS1070010A1B2\n")), 0);
    EXPECT_EQ(LastBox(), "Truncated SRecord on line 2");
    EXPECT_EQ(last.code, FILE_STEP_TRUNCATED);
    EXPECT_EQ(Firmware(Write("empty.s", "S003\nS9030000FC\n")), 0);
    EXPECT_EQ(LastBox(), "File contains no data.");
}

// Damaged records: refused with the first one's text unless the user says to
// install the file as it reads; the question counts them all.
TEST_F(FileSteps, DamagedFirmwareIsInstalledOnlyWhenTheUserSaysSo) {
    host.settings[KEY_PREV_SRECORD] = "/old/place.s";
    const std::string damaged = "S003\nS1070010A1B2C3D4FE\nS1050020AB01FF\nS1050022X10100\n";
    std::string path = Write("damaged.s", damaged);
    EXPECT_EQ(Firmware(path), 0);
    EXPECT_EQ(host.questions,
              std::vector<std::string>{"The file has 2 damaged records (the first on line 3). Install it anyway?"});
    EXPECT_EQ(status.texts, std::vector<std::string>{"Bad checksum in SRecord on line 3"});
    EXPECT_EQ(last.code, FILE_STEP_DAMAGED);
    EXPECT_EQ(last.damagedRecords, 2u);
    EXPECT_EQ(last.firstDamagedLine, 3);
    EXPECT_EQ(host.settings[KEY_PREV_SRECORD], "/old/place.s");

    EXPECT_EQ(Firmware(Write("char.s", "S003\nS1050020A!0100\n")), 0);
    EXPECT_EQ(status.texts.back(), "Invalid character in SRecord on line 2");

    host.acceptDamaged = 1;
    EXPECT_EQ(Firmware(path), 1);
    EXPECT_EQ(status.texts.back(), "File: damaged.s Opened.");
    EXPECT_EQ(last.damagedRecords, 2u);  // an installed damaged file still counts them
    EXPECT_EQ(host.settings[KEY_PREV_SRECORD], path);
    // As it reads: the wrong sum is ignored, the bad digit counts as 0.
    EXPECT_EQ(image.Length(), 0x24u);
    EXPECT_EQ(image.Data()[0x21], 0x01);
    EXPECT_EQ(image.Data()[0x22], 0x01);
}

TEST_F(FileSteps, FilesThatCannotBeOpened) {
    std::string unreadable = Write("locked.s", GOOD_FIRMWARE);
    fs::permissions(dir / "locked.s", fs::perms::none);
    // Root reads anything; on Windows modes only stop writing.
    bool readsAnyway = std::ifstream(dir / "locked.s").good();
    for (const std::string& path : {CoreName(dir / "missing.s"), CoreName(dir)}) {
        status.texts.clear();
        EXPECT_EQ(Firmware(path), 0);
        EXPECT_EQ(status.texts, std::vector<std::string>{"File could not be opened."});
        EXPECT_EQ(Screens(path), 0);
        EXPECT_EQ(status.texts.back(), "File could not be opened.");
    }
    if (!readsAnyway) {
        EXPECT_EQ(Firmware(unreadable), 0);
        EXPECT_EQ(status.texts.back(), "File could not be opened.");
    }
    fs::permissions(dir / "locked.s", fs::perms::owner_all);  // Windows removes no read-only file
    EXPECT_TRUE(host.messageBoxes.empty());
}

TEST_F(FileSteps, ScreensTakesTheBytesAsTheyAre) {
    host.settings[KEY_PREV_BINARY] = "/old/screens.bin";
    std::string bytes("\x00\xF0\xF1S003", 7);
    std::string path = Write("ui.bin", bytes);
    EXPECT_EQ(Screens(path), 1);
    EXPECT_EQ(host.dialogs[0].initialPath, "/old/screens.bin");
    EXPECT_STREQ(host.dialogs[0].defaultExtension, "bin");
    EXPECT_EQ(FiltersOf(host.dialogs[0]), "ORBIX Screens (*.bin)|All Files (*)");
    EXPECT_EQ(image.Length(), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.Data()), 7), bytes);
    EXPECT_EQ(host.settings[KEY_PREV_BINARY], path);
    EXPECT_EQ(status.texts.back(), "File: ui.bin Opened.");

    // An S-record file with header text is taken as raw bytes; 1 to 3 bytes pass.
    EXPECT_EQ(Screens(Write("hdr.bin", "S0060000484452\n")), 1);
    EXPECT_EQ(Screens(Write("tiny.bin", "S0")), 1);
    EXPECT_EQ(image.Length(), 2u);
}

TEST_F(FileSteps, ScreensRefusalsReleaseTheFirmwareImage) {
    ASSERT_EQ(Firmware(Write("first.s", GOOD_FIRMWARE)), 1);
    std::string remembered = host.settings[KEY_PREV_BINARY];
    EXPECT_EQ(Screens(Write("fw.bin", GOOD_FIRMWARE)), 0);
    EXPECT_EQ(LastBox(), "Incorrect file type (should be .bin)");
    // The refused file is what the buffer holds now: no firmware image is left.
    EXPECT_EQ(image.Length(), GOOD_FIRMWARE.size());
    EXPECT_EQ(image.Data()[0], 'S');
    EXPECT_EQ(host.settings[KEY_PREV_BINARY], remembered);

    EXPECT_EQ(Screens(Write("empty.bin", "")), 0);
    EXPECT_EQ(LastBox(), "File contains no data.");
    EXPECT_EQ(host.settings[KEY_PREV_BINARY], remembered);
}

// Names outside ASCII, opened by the bytes of the name on POSIX systems and by
// the wide name on Windows; the status line shows the name as it was given.
TEST_F(FileSteps, NamesOutsideAsciiOpen) {
    const fs::path firmware = u8"Prüfung-ΩΜΕΓΑ-键盘.s";
    const fs::path screens = u8"écrans-キー.bin";
    std::string path = Write(firmware, GOOD_FIRMWARE);
    ASSERT_EQ(Firmware(path), 1);
    EXPECT_EQ(status.texts.back(), "File: " + CoreName(firmware) + " Opened.");
    EXPECT_EQ(host.settings[KEY_PREV_SRECORD], path);
    EXPECT_EQ(image.Data()[0x13], 0xD4);

    path = Write(screens, "\x01\x02\x03");
    ASSERT_EQ(Screens(path), 1);
    EXPECT_EQ(status.texts.back(), "File: " + CoreName(screens) + " Opened.");
    EXPECT_EQ(image.Length(), 3u);

    // Bytes that are not UTF-8 name no file on Windows, and none exists here either.
    EXPECT_EQ(Screens(CoreName(dir) + "/\xFF\xFE.bin"), 0);
    EXPECT_EQ(status.texts.back(), "File could not be opened.");
}
