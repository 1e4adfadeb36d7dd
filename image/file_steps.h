#pragma once
#include <string>

#include "image_buffer.h"
#include "srecord.h"
#include "user_host.h"

// Settings-store keys of the two file steps.
constexpr const char* KEY_PREV_SRECORD = "PrevSRecordFilename";
constexpr const char* KEY_PREV_BINARY = "PrevBinaryFilename";

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
