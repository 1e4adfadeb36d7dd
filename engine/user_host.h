#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum FileKind { FILE_FIRMWARE, FILE_SCREENS };

// One entry of a file dialog's list of kinds: its name and the patterns it
// matches ("*" matches every name, with or without a dot).
struct FileFilter {
    std::string name;
    std::vector<std::string> patterns;
};

// What a file-open dialog is asked to show.
struct FileDialogSpec {
    FileKind kind;
    const char* defaultExtension;  // "s" or "bin"
    std::string initialPath;
    std::vector<FileFilter> filters;
};

enum FileReadResult {
    FILE_READ_OK,
    FILE_NOT_OPENED,    // missing, unreadable, or not a regular file
    FILE_TOO_LARGE,     // refused before a byte was read
    FILE_READ_SHORT,    // fewer bytes than the file's length
    FILE_READ_STOPPED,  // the user stopped the program while it read
};

// A file's bytes, read once and shared by whoever needs them.
using FileBytes = std::shared_ptr<const std::vector<uint8_t>>;

// The user-facing services the file steps and the engine need: the file
// dialog, the questions and the settings store (section "ORBIXLoader"). What
// a file step has to say comes back as its result, for the front end to show.
class IUserHost {
public:
    virtual ~IUserHost() = default;
    // 1 with the chosen full path, 0 when cancelled.
    virtual int ChooseFile(const FileDialogSpec& request, std::string& chosenPath) = 0;
    // A modal Yes/No question; 1 for Yes.
    virtual int AskYesNo(const std::string& text) = 0;
    // A firmware file with damaged records: 1 to install it exactly as it
    // reads. The window asks (No the default); the command line has --force.
    virtual int AcceptDamagedFile(const std::string& question) = 0;
    // Reads a chosen file whole into `bytes`; `fileLength` gets the file's
    // length. A file longer than `limit` is refused unread. By default the
    // file steps' own reader; a host may read its own way, or hand out bytes
    // it read once before.
    virtual FileReadResult ReadChosenFile(const std::string& path, uint64_t limit, FileBytes& bytes,
                                          uint64_t& fileLength);
    virtual int GetProfileInt(const char* key, int defaultValue) = 0;
    virtual void WriteProfileInt(const char* key, int value) = 0;
    virtual std::string GetProfileString(const char* key, const std::string& defaultValue) = 0;
    virtual void WriteProfileString(const char* key, const std::string& value) = 0;
};
