#pragma once
#include <string>

#include "image_buffer.h"
#include "srecord.h"
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

// Reads a regular file whole (the default of IUserHost::ReadChosenFile).
FileReadResult ReadWholeFile(const std::string& name, uint64_t limit, std::vector<uint8_t>& bytes,
                             uint64_t& fileLength);

// Lets the user choose an S-record file and parses it into a new firmware
// image. 1: the image is ready; 0: stop (the step has said why). `stats`, when
// given, gets the parse's record counts (for inspect).
int OpenFirmwareFile(IUserHost& host, IStatusLine& status, CImageBuffer& image, std::string& path,
                     SRecordStats* stats = nullptr);

// Lets the user choose a screens file and reads it into the image as it is.
int OpenScreensFile(IUserHost& host, IStatusLine& status, CImageBuffer& image, std::string& path);

// How a damaged record refuses a firmware file: "Bad checksum in SRecord on
// line %d" or "Invalid character in SRecord on line %d".
std::string DamageText(SRecordDamage damage, int line);

// The file's name and extension, without its directory.
std::string FileNameOf(const std::string& path);
