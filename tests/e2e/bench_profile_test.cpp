// Bench profiles: what a hand-edited file gets wrong is named with its line,
// and what the bench writes reads back the same.
#include "session/bench_profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/scratch_dir.h"

namespace {

const std::string SHA = std::string(64, 'a');
const std::string GOOD =
    "[bench]\ncommand = firmware\nimage = demo.s\nsha256 = " + SHA + "\n[slots]\nSlot 1 = /dev/ttyUSB0\n";

struct ProfileCase {
    const char* what;
    std::string text;
    std::string error;  // empty: read; else a part of the message
};

class BenchProfileTest : public ::testing::Test {
protected:
    std::filesystem::path dir = MakeScratchDir("bench-profile");
    std::string path = CoreName(dir / "line.orbix-bench");
    void TearDown() override { std::filesystem::remove_all(dir); }
    static std::string ReadAll(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int Load(const std::string& text, BenchProfile& profile, std::string& error) {
        std::ofstream(path, std::ios::binary) << text;
        return LoadBenchProfile(path, profile, error);
    }
};

TEST_F(BenchProfileTest, HandEditedProfilesAreReadOrRefusedByLine) {
    const ProfileCase cases[] = {
        {"the least a profile holds", GOOD, ""},
        {"a byte-order mark, CRLF, comments and spaces",
         "\xEF\xBB\xBF# made by hand\r\n  [bench]\r\n; note\r\ncommand=screens\r\nimage =  demo.bin \r\nsha256 = " +
             std::string(64, 'F') + "\r\nstart = operator\r\nlocked = yes\r\n\r\n[slots]\r\nA = auto:/dev/ttyS*\r\n",
         ""},
        {"a section twice", GOOD + "[bench]\n", "line 7: [bench] given twice"},
        {"an unknown key", "[bench]\ncolour = red\n", "line 2: unknown key \"colour\""},
        {"a key before [bench]", "image = x.s\n" + GOOD, "line 1: \"image\" comes before [bench]"},
        {"a key twice", "[bench]\nimage = a.s\nimage = b.s\n", "line 3: \"image\" given again (first on line 2)"},
        {"a command that is no update", "[bench]\ncommand = test\n", "line 2: command is firmware or screens"},
        {"a bad number", "[bench]\nretries = 2x\n", "line 2: retries takes a whole number from 0 to 100"},
        {"no stall time-out at all", "[bench]\nstall-timeout = 0\n", "line 2: stall-timeout"},
        {"a short sha256", "[bench]\nsha256 = abc\n", "line 2: sha256 takes the image's SHA-256: 64 hex digits"},
        {"a password by hand", "[bench]\npassword = secret\n", "line 2: password is SALT:HASH"},
        {"yes-no that is neither", "[bench]\nlocked = maybe\n", "line 2: locked is no or yes, not \"maybe\""},
        {"an unknown section", GOOD + "[extra]\n", "line 7: unknown section [extra]"},
        {"a line that is no key", "[bench]\nimage\n", "line 2: \"image\" is not KEY = VALUE"},
        {"a slot without a port", GOOD + "Slot 2 =\n", "line 7: slot \"Slot 2\" has no port"},
        {"a slot on no port", GOOD + "Slot 2 = nonsense\n", "line 7: slot \"Slot 2\": \"nonsense\" is not a port"},
        {"a slot name twice", GOOD + "Slot 1 = /dev/ttyUSB1\n",
         "line 7: slot \"Slot 1\" named again (first on line 6)"},
        {"a line not UTF-8", GOOD + "Slot \xE9 = /dev/ttyUSB1\n", "line 7: not UTF-8 text"},
        {"a slot name with a control character", GOOD + "Slot\x1b[2J = /dev/ttyUSB1\n",
         "line 7: the slot name \"Slot\x1b[2J\" cannot be used"},
        {"a comment after a port", GOOD + "Slot 2 = /dev/ttyUSB1   # left jig\n",
         "line 7: \"# left jig\" after a value: a comment goes on a line of its own"},
        {"a password in the database's URL", "[bench]\ndatabase = postgresql://line:pw@db/quality\n",
         "line 2: the database \"postgresql://line:pw@db/quality\" cannot be used: it holds a password"},
        {"a database without a log", "[bench]\ndatabase = postgresql://line@db/quality\n" + GOOD.substr(8),
         "database needs a log"},
        {"no [bench]", "[slots]\nA = /dev/ttyUSB0\n", "no [bench] section"},
        {"no image", "[bench]\nsha256 = " + SHA + "\n[slots]\nA = 3\n", "[bench] names no image"},
        {"no sha256", "[bench]\nimage = a.s\n[slots]\nA = 3\n", "[bench] gives no sha256"},
        {"no slot", "[bench]\nimage = a.s\nsha256 = " + SHA + "\n[slots]\n", "no slot"},
    };
    for (const ProfileCase& c : cases) {
        BenchProfile profile;
        std::string error;
        int read = Load(c.text, profile, error);
        if (c.error.empty()) {
            EXPECT_EQ(read, 1) << c.what << ": " << error;
        } else {
            EXPECT_EQ(read, 0) << c.what;
            EXPECT_NE(error.find(path + (c.error.rfind("line", 0) == 0 ? " " : ": ") + c.error), std::string::npos)
                << c.what << ": " << error;
        }
    }
    BenchProfile profile;
    std::string error;
    ASSERT_EQ(Load(cases[1].text, profile, error), 1) << error;
    EXPECT_EQ(profile.command, KEYPAD_SCREENS);
    EXPECT_EQ(profile.image, "demo.bin");
    EXPECT_EQ(profile.sha256, std::string(64, 'f'));
    EXPECT_TRUE(profile.startByOperator && profile.locked);
    ASSERT_EQ(profile.slots.size(), 1u);
    EXPECT_EQ(profile.slots[0].name, "A");
    EXPECT_EQ(profile.slots[0].port, "auto:/dev/ttyS*");
    EXPECT_EQ(LoadBenchProfile(CoreName(dir / "absent"), profile, error), 0);
}

TEST_F(BenchProfileTest, WhatTheBenchSavesReadsBackTheSame) {
    BenchProfile saved;
    saved.command = KEYPAD_SCREENS;
    saved.image = "images/demo screens.bin";
    saved.sha256 = SHA;
    saved.log = "C:\\records\\line 3.jsonl";
    saved.database = "postgresql://line@db.plant:5433/quality";
    saved.retries = 2;
    saved.stallTimeoutSeconds = 45;
    saved.startByOperator = saved.locked = saved.sound = true;
    SetBenchPassword(saved, "line 3 only");
    saved.slots = {{"Slot 2", "rfc2217://bench:4001"}, {"Slot 1", "COM7"}, {"Jig", "auto:/dev/serial/by-id/*"}};
    std::string error, again = CoreName(dir / "again.orbix-bench");
    BenchProfile read;
    ASSERT_EQ(SaveBenchProfile(path, saved, error), 1) << error;
    ASSERT_EQ(LoadBenchProfile(path, read, error), 1) << error;
    ASSERT_EQ(SaveBenchProfile(again, read, error), 1) << error;
    EXPECT_EQ(ReadAll(again), ReadAll(path));
    EXPECT_NE(ReadAll(path).find(
                  "log = C:\\records\\line 3.jsonl\ndatabase = postgresql://line@db.plant:5433/quality\nretries = "
                  "2\nstall-timeout = 45\nstart = operator\n"
                  "sound = yes\nlocked = yes\n"),
              std::string::npos)
        << ReadAll(path);
    EXPECT_NE(ReadAll(path).find("[slots]\nSlot 2 = rfc2217://bench:4001\nSlot 1 = COM7\nJig = auto:"),
              std::string::npos);
    EXPECT_TRUE(BenchPasswordMatches(read, "line 3 only"));
    EXPECT_FALSE(BenchPasswordMatches(read, "line 3"));
    BenchProfile other = saved;
    SetBenchPassword(other, "line 3 only");
    EXPECT_NE(other.passwordSalt, saved.passwordSalt) << "the same password, the same hash: no salt";
    SetBenchPassword(other, "");
    EXPECT_TRUE(BenchPasswordMatches(other, "anything"));

    // What could not read back is not written, and the profile there stays whole.
    for (BenchSlot slot : {BenchSlot{"[Slot 9]", "COM9"}, BenchSlot{"Slot 1", "COM9"}}) {
        BenchProfile bad = saved;
        bad.slots.push_back(slot);
        EXPECT_EQ(SaveBenchProfile(path, bad, error), 0);
        EXPECT_NE(error.find(slot.name), std::string::npos) << error;
    }
    EXPECT_EQ(ReadAll(again), ReadAll(path));
    EXPECT_EQ(SaveBenchProfile(CoreName(dir / "no-such-folder" / "x.orbix-bench"), saved, error), 0);

    // An edit keeps what the author wrote: comments, blank lines, order, CRLF; only changed lines change.
    const std::string byHand =
        "# approved: QA-1234\r\n[bench]\r\nimage=demo.s\r\ncommand = firmware\r\nsha256 = " + SHA +
        "\r\n\r\n[slots]\r\n# left jig\r\nA = COM1\r\n# right jig\r\nB = COM2\r\n";
    ASSERT_EQ(Load(byHand, read, error), 1) << error;
    read.locked = true;
    read.slots[1].port = "COM3";
    read.slots.push_back({"C", "COM4"});
    ASSERT_EQ(SaveBenchProfile(path, read, error), 1) << error;
    EXPECT_EQ(ReadAll(path), "# approved: QA-1234\r\n[bench]\r\nimage=demo.s\r\ncommand = firmware\r\nsha256 = " + SHA +
                                 "\r\nretries = 0\r\nstall-timeout = 30\r\nstart = keypad\r\nlocked = yes\r\n\r\n"
                                 "[slots]\r\n# left jig\r\nA = COM1\r\n# right jig\r\nB = COM3\r\nC = COM4\r\n");
    read.slots = {read.slots[2], read.slots[0]};  // B gone, C first: the lines take the new order
    ASSERT_EQ(SaveBenchProfile(path, read, error), 1) << error;
    EXPECT_NE(ReadAll(path).find("[slots]\r\n# left jig\r\nC = COM4\r\n# right jig\r\nA = COM1\r\n"), std::string::npos)
        << ReadAll(path);
    EXPECT_EQ(BenchProfilePath(path, "demo.s"), CoreName(dir / "demo.s"));
    EXPECT_EQ(BenchProfilePath(path, "/srv/demo.s"), "/srv/demo.s");
}

}  // namespace
