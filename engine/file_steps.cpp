#include "file_steps.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

const char* const TEXT_CANNOT_OPEN = "File could not be opened.";
const char* const TEXT_NO_BUFFER = "Unable to allocate memory for buffer.";
const char* const TEXT_NO_DATA = "File contains no data.";

std::string FormatLengths(long long fileLength, long long bytesRead) {
    char text[128];
    std::snprintf(text, sizeof text, "Incorrect number of bytes read from file. File: %lld, Buf: %lld", fileLength,
                  bytesRead);
    return text;
}

std::string FormatInt(const char* format, int value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

FileStepResult Result(FileStepCode code, const std::string& text) {
    FileStepResult result;
    result.code = code;
    result.text = text;
    return result;
}

// A damaged image would be installed as valid: the keypad checks it against a
// checksum computed from the same image. Only the user's say-so lets it through.
bool AcceptDamage(IUserHost& host, const SRecordResult& result) {
    if (result.damagedRecords == 0) return true;
    char question[160];
    std::snprintf(question, sizeof question,
                  "The file has %u damaged record%s (the first on line %d). Install it anyway?", result.damagedRecords,
                  result.damagedRecords == 1 ? "" : "s", result.firstDamagedLine);
    return host.AcceptDamagedFile(question) != 0;
}

// The file behind a name the host gave: the bytes of the name on POSIX
// systems; on Windows the name is UTF-8 and the file is opened by its wide
// name, so that names outside the ANSI code page open too.
std::filesystem::path PathOfName(const std::string& name) {
#ifdef _WIN32
    try {
        return std::filesystem::path(std::u8string(name.begin(), name.end()));
    } catch (const std::exception&) {
        return {};  // not UTF-8: no file has that name
    }
#else
    return name;
#endif
}

FileDialogSpec DialogFor(IUserHost& host, FileKind kind) {
    bool firmware = kind == FILE_FIRMWARE;
    FileFilter own = firmware ? FileFilter{"ORBIX Firmware", {"*.s"}} : FileFilter{"ORBIX Screens", {"*.bin"}};
    return {kind,
            firmware ? "s" : "bin",
            host.GetProfileString(firmware ? KEY_PREV_SRECORD : KEY_PREV_BINARY, ""),
            {own, {"All Files", {"*"}}}};
}

// FILE_STEP_ACCEPTED once the bytes are read.
FileStepResult ChooseAndRead(IUserHost& host, FileKind kind, std::string& path, FileBytes& bytes) {
    bool firmware = kind == FILE_FIRMWARE;
    std::string chosen;
    if (!host.ChooseFile(DialogFor(host, kind), chosen)) return {};
    path = chosen;
    uint64_t limit = ImageFileLimit(kind);
    uint64_t length = 0;
    char text[160];
    switch (host.ReadChosenFile(path, limit, bytes, length)) {
        case FILE_READ_OK:
            return Result(FILE_STEP_ACCEPTED, "");
        case FILE_NOT_OPENED:
            return Result(FILE_STEP_NOT_OPENED, TEXT_CANNOT_OPEN);
        case FILE_TOO_LARGE:
            std::snprintf(text, sizeof text, "File is too large: %llu bytes, more than the %llu %s.",
                          static_cast<unsigned long long>(length), static_cast<unsigned long long>(limit),
                          firmware ? "a firmware file may have" : "the screens area can hold");
            return Result(FILE_STEP_TOO_LARGE, text);
        case FILE_READ_SHORT:
            return Result(FILE_STEP_READ_SHORT, FormatLengths(static_cast<long long>(length),
                                                              static_cast<long long>(bytes ? bytes->size() : 0)));
        default:
            return {};  // stopped: the host knows why
    }
}

bool BeginsWithS003(const uint8_t* bytes, size_t length) {
    return length >= 4 && bytes[0] == 'S' && bytes[1] == '0' && bytes[2] == '0' && bytes[3] == '3';
}

// Only an accepted file is remembered and announced.
FileStepResult Accept(IUserHost& host, const char* key, const std::string& path) {
    host.WriteProfileString(key, path);
    return Result(FILE_STEP_ACCEPTED, "File: " + FileNameOf(path) + " Opened.");
}

}  // namespace

std::string DamageText(SRecordDamage damage, int line) {
    return FormatInt(damage == SREC_DAMAGE_CHARACTER ? "Invalid character in SRecord on line %d"
                                                     : "Bad checksum in SRecord on line %d",
                     line);
}

FileReadResult ReadWholeFile(const std::string& name, uint64_t limit, std::vector<uint8_t>& bytes,
                             uint64_t& fileLength) {
    std::filesystem::path path = PathOfName(name);
    std::error_code ec;
    // Checked before it is opened: a device or a pipe would never end.
    if (!std::filesystem::is_regular_file(path, ec)) return FILE_NOT_OPENED;
    fileLength = std::filesystem::file_size(path, ec);
    if (ec) return FILE_NOT_OPENED;
    if (fileLength > limit) return FILE_TOO_LARGE;
    std::ifstream file(path, std::ios::binary);
    if (!file) return FILE_NOT_OPENED;
    bytes.resize(static_cast<size_t>(fileLength));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(fileLength));
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes.size() == fileLength ? FILE_READ_OK : FILE_READ_SHORT;
}

FileReadResult IUserHost::ReadChosenFile(const std::string& path, uint64_t limit, FileBytes& bytes,
                                         uint64_t& fileLength) {
    auto read = std::make_shared<std::vector<uint8_t>>();
    FileReadResult result = ReadWholeFile(path, limit, *read, fileLength);
    bytes = std::move(read);
    return result;
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileStepResult OpenFirmwareFile(IUserHost& host, CImageBuffer& image, std::string& path, SRecordStats* stats) {
    FileBytes file;
    FileStepResult chosen = ChooseAndRead(host, FILE_FIRMWARE, path, file);
    if (!chosen.Accepted()) return chosen;
    const std::vector<uint8_t>& bytes = *file;
    if (!BeginsWithS003(bytes.data(), bytes.size()))
        return Result(FILE_STEP_WRONG_TYPE, "Incorrect file type (should be .S)");
    if (!image.Allocate(FIRMWARE_IMAGE_SIZE)) return Result(FILE_STEP_NO_MEMORY, TEXT_NO_BUFFER);

    uint32_t imageLength = 0;
    SRecordResult parse = ParseSRecords(reinterpret_cast<const char*>(bytes.data()), bytes.size(), image.Data(),
                                        FIRMWARE_IMAGE_SIZE, imageLength, stats);
    image.SetLength(imageLength);
    if (stats) {
        stats->damagedRecords = parse.damagedRecords;
        stats->firstDamagedLine = parse.firstDamagedLine;
        stats->firstDamage = parse.firstDamage;
    }
    // A partial image would be erased into the keypad: refuse what did not parse whole.
    FileStepResult result;
    if (parse.status == SREC_OUT_OF_RANGE)
        result = Result(FILE_STEP_OUT_OF_RANGE, FormatInt("Out of range offset in SRecord: %d", parse.value));
    else if (parse.status == SREC_TRUNCATED)
        result = Result(FILE_STEP_TRUNCATED, FormatInt("Truncated SRecord on line %d", parse.value));
    else if (imageLength == 0)
        result = Result(FILE_STEP_NO_DATA, TEXT_NO_DATA);
    else if (!AcceptDamage(host, parse))
        result = Result(FILE_STEP_DAMAGED, DamageText(parse.firstDamage, parse.firstDamagedLine));
    else
        result = Accept(host, KEY_PREV_SRECORD, path);
    result.damagedRecords = parse.damagedRecords;
    result.firstDamagedLine = parse.firstDamagedLine;
    result.firstDamage = parse.firstDamage;
    return result;
}

FileStepResult OpenScreensFile(IUserHost& host, CImageBuffer& image, std::string& path) {
    FileBytes file;
    FileStepResult chosen = ChooseAndRead(host, FILE_SCREENS, path, file);
    if (!chosen.Accepted()) return chosen;
    const std::vector<uint8_t>& bytes = *file;
    if (!image.Allocate(bytes.size())) return Result(FILE_STEP_NO_MEMORY, TEXT_NO_BUFFER);
    std::copy(bytes.begin(), bytes.end(), image.Data());
    uint32_t read = static_cast<uint32_t>(bytes.size());  // the limit keeps it within 32 bits
    image.SetLength(read);
    if (BeginsWithS003(image.Data(), read)) return Result(FILE_STEP_WRONG_TYPE, "Incorrect file type (should be .bin)");
    if (read == 0) return Result(FILE_STEP_NO_DATA, TEXT_NO_DATA);
    return Accept(host, KEY_PREV_BINARY, path);
}
