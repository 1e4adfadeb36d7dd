#pragma once
#include <string>
#include <vector>

#include "fleet.h"
#include "image_file.h"
#include "serial_desk.h"
#include "session_request.h"

// A production bench's set-up, kept in one small UTF-8 text file beside its
// image, so the folder copies from PC to PC:
//
//   # comment
//   [bench]
//   command = firmware              (or screens)
//   image = demo-firmware.s         (relative: to the profile's folder)
//   sha256 = 64 hex digits          (the image must hash to it)
//   log = records.jsonl             (relative: to the profile's folder; absent: no records)
//   database = postgresql://USER@HOST[:PORT]/DBNAME  (the log's records also sent there)
//   retries = 0
//   stall-timeout = 30
//   start = keypad                  (or operator: the operator's Start begins each unit)
//   sound = no                      (or yes: a sound when a slot needs the operator)
//   locked = no                     (or yes)
//   password = SALT:HASH            (hex; absent: unlocking asks nothing)
//   serial = off                    (or optional, or required: each keypad's label scanned first)
//   serial_pattern = KP-[0-9]{6}    (what the whole label must match; absent: any printable code)
//   station = Line 3 bench A        (names the records; absent: the PC's host name)
//   operator = optional             (or required: a badge or a name before the first Start)
//   [slots]
//   Slot 1 = /dev/ttyUSB0           (a name, then a port in any form --port takes)
//   Slot 2 = auto:/dev/serial/by-id/*FTDI*
//
// The slots keep the file's order.

// One slot of a bench: a port, and the name its records carry as `unit`.
struct BenchSlot {
    std::string name;
    std::string port;
};

struct BenchProfile {
    KeypadCommand command = KEYPAD_FIRMWARE;  // firmware or screens
    std::string image;                        // as the file gives it
    std::string sha256;                       // lower-case hex
    std::string log;                          // as the file gives it; empty: no records
    std::string database;                     // a URL; empty: the records stay in the log
    int retries = 0;
    int stallTimeoutSeconds = DEFAULT_STALL_TIMEOUT_SECONDS;
    bool startByOperator = false;  // false: a keypad's arrival starts its slot's update
    bool sound = false;            // a sound when a slot needs the operator (done, failed)
    bool locked = false;
    std::string passwordSalt;  // hex; both empty: no password
    std::string passwordHash;  // hex SHA-256 of salt bytes followed by the password's
    SerialNeed serial = SERIAL_OFF;
    std::string serialPattern;
    std::string station;
    bool operatorRequired = false;
    std::vector<BenchSlot> slots;
};

// Reads a profile; 0 with `error` naming the line and what is wrong with it
// (an unknown key, a bad value, a slot without a port, ...).
int LoadBenchProfile(const std::string& path, BenchProfile& profile, std::string& error);
// Writes it whole or not at all (a temporary file renamed into place); 0 with `error`.
int SaveBenchProfile(const std::string& path, const BenchProfile& profile, std::string& error);
// A path the profile gives (image, log) as it is opened: relative ones from
// the profile's own folder.
std::string BenchProfilePath(const std::string& profilePath, const std::string& given);

// The slots as the ports a run opens, each with its name as the unit's: an
// auto:GLOB slot is the one device matching GLOB now. 0 with `error` naming
// the slot when none or several match.
int BenchSlotTargets(const std::string& profilePath, const std::vector<BenchSlot>& slots,
                     std::vector<PortTarget>& targets, std::string& error);

// The password guards against a stray click, not an attacker: a salted hash
// in the file. An empty password removes it.
void SetBenchPassword(BenchProfile& profile, const std::string& password);
bool BenchPasswordMatches(const BenchProfile& profile, const std::string& password);

// The image must be the one the profile (or --expect-sha256) pins: 0 with
// `reason` saying which image was found and which was expected.
int CheckPinnedImage(const CImageFile& image, const std::string& fileName, const std::string& expectedSha256,
                     std::string& reason);
