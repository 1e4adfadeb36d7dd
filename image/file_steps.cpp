#include "file_steps.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

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

// Opens a regular file for reading and tells its length; false when it
// cannot be opened (missing, unreadable, a directory, gone since the choice).
bool OpenForReading(const std::string& name, std::ifstream& file, long long& length) {
    std::filesystem::path path = PathOfName(name);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    file.open(path, std::ios::binary);
    if (!file.seekg(0, std::ios::end)) return false;
    length = file.tellg();
    return length >= 0 && file.seekg(0);
}

int ChooseAndOpen(IUserHost& host, IStatusLine& status, FileKind kind, std::string& path, std::ifstream& file,
                  long long& length) {
    bool firmware = kind == FILE_FIRMWARE;
    FileDialogSpec request{kind, firmware ? "s" : "bin",
                        firmware ? "ORBIX Firmware (*.s)|*.s|All Files (*.*)|*.*||"
                                 : "ORBIX Screens (*.bin)|*.bin|All Files (*.*)|*.*||",
                        host.GetProfileString(firmware ? KEY_PREV_SRECORD : KEY_PREV_BINARY, "")};
    std::string chosen;
    if (!host.ChooseFile(request, chosen)) return 0;
    path = chosen;
    if (!OpenForReading(path, file, length)) {
        status.SetStatus(TEXT_CANNOT_OPEN);
        return 0;
    }
    return 1;
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

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int OpenFirmwareFile(IUserHost& host, IStatusLine& status, CImageBuffer& image, std::string& path,
                     SRecordStats* stats) {
    std::ifstream file;
    long long length = 0;
    if (!ChooseAndOpen(host, status, FILE_FIRMWARE, path, file, length)) return 0;

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length ? length : 1]);
    if (!buffer) {
        host.MessageBox("Unable to allocate memory for file buffer.", MB_ICON_NONE);
        return 0;
    }
    file.read(reinterpret_cast<char*>(buffer.get()), length);
    long long read = file.gcount();
    if (read != length) {
        host.MessageBox(FormatLengths(length, read), MB_ICON_NONE);
        return 0;
    }
    if (!BeginsWithS003(buffer.get(), static_cast<size_t>(read))) {
        host.MessageBox("Incorrect file type (should be .S)", MB_ICON_NONE);
        return 0;
    }
    if (!image.Allocate(FIRMWARE_IMAGE_SIZE)) {
        host.MessageBox(TEXT_NO_BUFFER, MB_ICON_NONE);
        return 0;
    }
    file.close();

    uint32_t imageLength = 0;
    SRecordResult result = ParseSRecords(reinterpret_cast<const char*>(buffer.get()), static_cast<size_t>(read),
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
    std::ifstream file;
    long long length = 0;
    if (!ChooseAndOpen(host, status, FILE_SCREENS, path, file, length)) return 0;

    // The image length is 32 bits wide; a larger file cannot be held.
    if (static_cast<unsigned long long>(length) > 0xFFFFFFFFull || !image.Allocate(static_cast<size_t>(length))) {
        image.Release();
        host.MessageBox(TEXT_NO_BUFFER, MB_ICON_NONE);
        return 0;
    }
    file.read(reinterpret_cast<char*>(image.Data()), length);
    long long read = file.gcount();
    image.SetLength(static_cast<uint32_t>(read));
    if (read != length) {
        host.MessageBox(FormatLengths(length, read), MB_ICON_NONE);
        return 0;
    }
    file.close();
    if (BeginsWithS003(image.Data(), static_cast<size_t>(read))) {
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
