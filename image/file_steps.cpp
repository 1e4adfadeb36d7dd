#include "file_steps.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <algorithm>

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

// A damaged image would be installed as valid: the keypad checks it against a
// checksum computed from the same image. Only the user's say-so lets it through.
int AcceptDamage(IUserHost& host, IStatusLine& status, const SRecordResult& result) {
    if (result.damagedRecords == 0) return 1;
    char question[160];
    std::snprintf(question, sizeof question,
                  "The file has %u damaged record%s (the first on line %d). Install it anyway?", result.damagedRecords,
                  result.damagedRecords == 1 ? "" : "s", result.firstDamagedLine);
    if (host.AcceptDamagedFile(question)) return 1;
    status.SetStatus(DamageText(result.firstDamage, result.firstDamagedLine));
    return 0;
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

int ChooseAndRead(IUserHost& host, IStatusLine& status, FileKind kind, std::string& path,
                  FileBytes& bytes) {
    bool firmware = kind == FILE_FIRMWARE;
    FileDialogSpec request{kind, firmware ? "s" : "bin",
                        firmware ? "ORBIX Firmware (*.s)|*.s|All Files (*.*)|*.*||"
                                 : "ORBIX Screens (*.bin)|*.bin|All Files (*.*)|*.*||",
                        host.GetProfileString(firmware ? KEY_PREV_SRECORD : KEY_PREV_BINARY, "")};
    std::string chosen;
    if (!host.ChooseFile(request, chosen)) return 0;
    path = chosen;
    uint64_t limit = firmware ? FIRMWARE_FILE_LIMIT : SCREENS_FILE_LIMIT;
    uint64_t length = 0;
    char text[160];
    switch (host.ReadChosenFile(path, limit, bytes, length)) {
    case FILE_READ_OK:
        return 1;
    case FILE_NOT_OPENED:
        status.SetStatus(TEXT_CANNOT_OPEN);
        return 0;
    case FILE_TOO_LARGE:
        std::snprintf(text, sizeof text, "File is too large: %llu bytes, more than the %llu %s.",
                      static_cast<unsigned long long>(length), static_cast<unsigned long long>(limit),
                      firmware ? "a firmware file may have" : "the screens area can hold");
        host.MessageBox(text, MB_ICON_NONE);
        return 0;
    case FILE_READ_SHORT:
        host.MessageBox(FormatLengths(static_cast<long long>(length), static_cast<long long>(bytes ? bytes->size() : 0)),
                        MB_ICON_NONE);
        return 0;
    default:
        return 0;  // stopped: the host knows why
    }
}

bool BeginsWithS003(const uint8_t* bytes, size_t length) {
    return length >= 4 && bytes[0] == 'S' && bytes[1] == '0' && bytes[2] == '0' && bytes[3] == '3';
}

void Accept(IUserHost& host, IStatusLine& status, const char* key, const std::string& path) {
    host.WriteProfileString(key, path);
    status.SetStatus("File: " + FileNameOf(path) + " Opened.");
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

int OpenFirmwareFile(IUserHost& host, IStatusLine& status, CImageBuffer& image, std::string& path,
                     SRecordStats* stats) {
    FileBytes file;
    if (!ChooseAndRead(host, status, FILE_FIRMWARE, path, file)) return 0;
    const std::vector<uint8_t>& bytes = *file;
    if (!BeginsWithS003(bytes.data(), bytes.size())) {
        host.MessageBox("Incorrect file type (should be .S)", MB_ICON_NONE);
        return 0;
    }
    if (!image.Allocate(FIRMWARE_IMAGE_SIZE)) {
        host.MessageBox(TEXT_NO_BUFFER, MB_ICON_NONE);
        return 0;
    }

    uint32_t imageLength = 0;
    SRecordResult result = ParseSRecords(reinterpret_cast<const char*>(bytes.data()), bytes.size(),
                                         image.Data(), FIRMWARE_IMAGE_SIZE, imageLength, stats);
    image.SetLength(imageLength);
    if (stats) {
        stats->damagedRecords = result.damagedRecords;
        stats->firstDamagedLine = result.firstDamagedLine;
        stats->firstDamage = result.firstDamage;
    }
    // A partial image would be erased into the keypad: refuse what did not parse whole.
    if (result.status == SREC_OUT_OF_RANGE) {
        host.MessageBox(FormatInt("Out of range offset in SRecord: %d", result.value), MB_ICON_NONE);
        return 0;
    }
    if (result.status == SREC_TRUNCATED) {
        host.MessageBox(FormatInt("Truncated SRecord on line %d", result.value), MB_ICON_NONE);
        return 0;
    }
    if (imageLength == 0) {
        host.MessageBox(TEXT_NO_DATA, MB_ICON_NONE);
        return 0;
    }
    if (!AcceptDamage(host, status, result)) return 0;
    // Only an accepted file is remembered and announced.
    Accept(host, status, KEY_PREV_SRECORD, path);
    return 1;
}

int OpenScreensFile(IUserHost& host, IStatusLine& status, CImageBuffer& image, std::string& path) {
    FileBytes file;
    if (!ChooseAndRead(host, status, FILE_SCREENS, path, file)) return 0;
    const std::vector<uint8_t>& bytes = *file;
    if (!image.Allocate(bytes.size())) {
        host.MessageBox(TEXT_NO_BUFFER, MB_ICON_NONE);
        return 0;
    }
    std::copy(bytes.begin(), bytes.end(), image.Data());
    uint32_t read = static_cast<uint32_t>(bytes.size());  // the limit keeps it within 32 bits
    image.SetLength(read);
    if (BeginsWithS003(image.Data(), read)) {
        host.MessageBox("Incorrect file type (should be .bin)", MB_ICON_NONE);
        return 0;
    }
    if (read == 0) {
        host.MessageBox(TEXT_NO_DATA, MB_ICON_NONE);
        return 0;
    }
    Accept(host, status, KEY_PREV_BINARY, path);
    return 1;
}
