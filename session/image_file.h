#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/user_host.h"

// An update's file, read once: every keypad gets these bytes, and the record
// names them, whatever becomes of the file on the disk meanwhile.
struct CImageFile {
    std::shared_ptr<std::vector<uint8_t>> bytes = std::make_shared<std::vector<uint8_t>>();
    std::string sha256;  // of `bytes`, hex
};

// Reads a regular file (links followed) whole and hashes it as it goes. A
// device, pipe, directory or socket is refused unopened, and a file longer
// than `limit` unread; `problem` then says why in the system's words.
// `stopped` (an interruption) ends it between blocks (FILE_READ_STOPPED).
FileReadResult ReadImageFile(const std::string& path, uint64_t limit, CImageFile& file, uint64_t& fileLength,
                             std::string& problem, const std::function<bool()>& stopped);

// The file's name as records give it: absolute. On POSIX systems the bytes as given go on (no
// text conversion could change them); Windows resolves the forms it has to one.
std::string RecordedPath(const std::string& name);
