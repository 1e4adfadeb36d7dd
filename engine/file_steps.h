#pragma once
#include <string>

#include "../image/image_buffer.h"
#include "../image/srecord.h"
#include "user_host.h"

// Settings-store keys of the two file steps.
constexpr const char* KEY_PREV_SRECORD = "PrevSRecordFilename";
constexpr const char* KEY_PREV_BINARY = "PrevBinaryFilename";

// The longest firmware file read. The 1,000,000-byte image written one data
// byte a record (S3 and CR LF: 18 file bytes an image byte) takes 18 MB; 64 MiB
// leaves room for headers and comments, and refuses a wrong file unread.
constexpr uint64_t FIRMWARE_FILE_LIMIT = 64ull << 20;
// The most the screens area can hold: its last sector is one byte in the
// Memory ID (at most 255 sectors), and no keypad flash has sectors over 256 KiB.
constexpr uint64_t SCREENS_FILE_LIMIT = 255ull * 256 * 1024;
// The limit of a file of this kind, wherever one is read.
constexpr uint64_t ImageFileLimit(FileKind kind) {
    return kind == FILE_FIRMWARE ? FIRMWARE_FILE_LIMIT : SCREENS_FILE_LIMIT;
}

// Reads a regular file whole (the default of IUserHost::ReadChosenFile).
FileReadResult ReadWholeFile(const std::string& name, uint64_t limit, std::vector<uint8_t>& bytes,
                             uint64_t& fileLength);

// How a file step ended.
enum FileStepCode {
    FILE_STEP_ACCEPTED,    // the image is ready
    FILE_STEP_CANCELLED,   // the dialog was cancelled or the read stopped: nothing to say
    FILE_STEP_NOT_OPENED,  // missing, unreadable, or not a regular file
    FILE_STEP_TOO_LARGE,   // refused before a byte was read
    FILE_STEP_READ_SHORT,  // fewer bytes than the file's length
    FILE_STEP_WRONG_TYPE,  // an S-record file chosen for screens, or the other way round
    FILE_STEP_NO_MEMORY,
    FILE_STEP_OUT_OF_RANGE,  // a record's address lies beyond the image
    FILE_STEP_TRUNCATED,
    FILE_STEP_NO_DATA,
    FILE_STEP_DAMAGED,  // damaged records the user would not install
};

// A file step's result and what it says, in the program's words; the front
// end decides where the words go.
struct FileStepResult {
    FileStepCode code = FILE_STEP_CANCELLED;
    std::string text;  // empty when cancelled
    // The damaged records, also of a file installed as it reads.
    unsigned damagedRecords = 0;
    int firstDamagedLine = 0;
    SRecordDamage firstDamage = SREC_DAMAGE_NONE;

    bool Accepted() const { return code == FILE_STEP_ACCEPTED; }
    // Said on the status line; the other refusals need a box, as they stop
    // the user's choice dead.
    bool IsStatusText() const {
        return code == FILE_STEP_ACCEPTED || code == FILE_STEP_NOT_OPENED || code == FILE_STEP_DAMAGED;
    }
};

// Lets the user choose an S-record file and parses it into a new firmware
// image. `stats`, when given, gets the parse's record counts (for inspect).
FileStepResult OpenFirmwareFile(IUserHost& host, CImageBuffer& image, std::string& path, SRecordStats* stats = nullptr);

// Lets the user choose a screens file and reads it into the image as it is.
FileStepResult OpenScreensFile(IUserHost& host, CImageBuffer& image, std::string& path);

// How a damaged record refuses a firmware file: "Bad checksum in SRecord on
// line %d" or "Invalid character in SRecord on line %d".
std::string DamageText(SRecordDamage damage, int line);

// The file's name and extension, without its directory.
std::string FileNameOf(const std::string& path);
