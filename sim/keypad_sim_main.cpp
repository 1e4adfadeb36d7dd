// orbix-keypad-sim: the keypad model served on a pseudo-terminal, for demos
// and tests. Prints the device path first, then serves until a signal (or the
// end of an update with --exit-after-update).
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/messages.h"
#include "pty_server.h"

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

enum OptionId {
    OPT_LINK = 256,
    OPT_EXIT_AFTER_UPDATE,
    OPT_SWAP_AFTER_UPDATE,
    OPT_SWAPS,
    OPT_FIRST_KEYPAD_AFTER,
    OPT_DUMP_DIR,
    OPT_FW_LAST,
    OPT_SCR_LAST,
    OPT_PROGRAM_INDEX,
    OPT_TAG,
    OPT_SECTOR_SIZE,
    OPT_BAUD,
    OPT_ERASE_MS,
    OPT_WRITE_MS,
    OPT_REPLY_DELAY_MS,
    OPT_SILENT,
    OPT_SILENT_AFTER,
    OPT_DROP,
    OPT_DROP_COUNT,
    OPT_CORRUPT,
    OPT_DUPLICATE,
    OPT_FAIL_COMMAND,
    OPT_FAIL_OCCURRENCE,
    OPT_ACK_EXECUTE,
    OPT_RANDOM_FAULTS,
    OPT_SEED,
    OPT_HELP = 'h',
    OPT_VERSION = 'V',
};

constexpr int SWAPS_DEFAULT = 1;

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// One option: its name, its value ("" for a switch), and its --help text, each
// "\n" a line of its own; `heading` starts a group of them.
struct OptionRow {
    const char* name;
    const char* value;
    int id;
    std::string help;
    const char* heading = nullptr;
};

const std::vector<OptionRow>& Options() {
    static const KeypadConfig d;
    static const std::vector<OptionRow> rows = {
        {"link", "PATH", OPT_LINK, "also make PATH a symlink to the device (removed\non exit)"},
        {"exit-after-update", "", OPT_EXIT_AFTER_UPDATE,
         "end once an update is over: after the execute\ncommand is answered, or 2 s after the last screens\nchunk"},
        {"swap-after-update", "MS", OPT_SWAP_AFTER_UPDATE,
         "once an update is over, the keypad is taken off the\ncable and a fresh one answers MS ms later, the port\n"
         "staying open (a jig); the dump holds the last keypad"},
        {"swaps", "N", OPT_SWAPS, "... this many times (default " + std::to_string(SWAPS_DEFAULT) + ")"},
        {"first-keypad-after", "MS", OPT_FIRST_KEYPAD_AFTER, "the line is silent for MS ms before the first keypad"},
        {"dump-dir", "DIR", OPT_DUMP_DIR,
         "on exit, write each area's contents to\nDIR/firmware.bin and DIR/screens.bin, and the Valid\n"
         "data record (if one was accepted) to\nDIR/valid-record.bin"},
        {"firmware-last-sector", "N", OPT_FW_LAST,
         "last firmware sector, 0..255 (default " + std::to_string(d.firmwareLastSector) +
             "); the area\nstarts at sector 6 and spans at least that one",
         "Memory ID record:"},
        {"screens-last-sector", "N", OPT_SCR_LAST,
         "last screens sector, 0..255 (default " + std::to_string(d.screensLastSector) + "); starts at 1"},
        {"program-index", "N", OPT_PROGRAM_INDEX, "programming index (default " + Hex(d.programIndex) + ")"},
        {"tag", "N", OPT_TAG, "tag word (default " + Hex(d.tagValue) + ")"},
        {"sector-size", "BYTES", OPT_SECTOR_SIZE, "bytes per flash sector (default " + std::to_string(d.sectorSize) + ")"},
        {"baud", "N", OPT_BAUD, "emulate a line rate, 10 bits a byte (default " + std::to_string(d.baud) + ":\nnone)",
         "Timings:"},
        {"erase-ms", "N", OPT_ERASE_MS, "time to erase one sector (default " + std::to_string(d.eraseMsPerSector) + ")"},
        {"write-ms", "N", OPT_WRITE_MS, "time to write one data chunk (default " + std::to_string(d.writeMsPerChunk) + ")"},
        {"reply-delay-ms", "N", OPT_REPLY_DELAY_MS, "added to every reply (default " + std::to_string(d.replyDelayMs) + ")"},
        {"silent", "", OPT_SILENT, "answer nothing", "Faults (replies are numbered from 1):"},
        {"silent-after", "N", OPT_SILENT_AFTER, "answer nothing after N replies"},
        {"drop", "N", OPT_DROP, "drop reply N ..."},
        {"drop-count", "N", OPT_DROP_COUNT, "... and the N-1 after it (default " + std::to_string(d.dropCount) + ")"},
        {"corrupt", "N", OPT_CORRUPT, "send reply N with a wrong sum"},
        {"duplicate", "N", OPT_DUPLICATE, "send reply N twice"},
        {"fail-command", "CODE", OPT_FAIL_COMMAND,
         "answer RSP_FAILED to this command: a code such as\n0x84 or one of sync, fw-mem-id, scr-mem-id, erase,\n"
         "set-index, fw-data, scr-data, checksum, execute ..."},
        {"fail-occurrence", "N", OPT_FAIL_OCCURRENCE,
         "... on its N-th occurrence (default " + std::to_string(d.failOccurrence) + ")"},
        {"ack-execute", "", OPT_ACK_EXECUTE, "answer execute with ACK instead of OK"},
        {"random-faults", "PERCENT", OPT_RANDOM_FAULTS,
         "lose or corrupt at random this share of the replies\nto the probe and the memory-ID requests (the loader\nresends)"},
        {"seed", "N", OPT_SEED, "seed of --random-faults (default " + std::to_string(d.randomSeed) + ")"},
        {"help", "", OPT_HELP, "show this text", ""},
        {"version", "", OPT_VERSION, "show the version"},
    };
    return rows;
}

std::vector<option> LongOptions() {
    std::vector<option> options;
    for (const OptionRow& row : Options())
        options.push_back({row.name, *row.value ? required_argument : no_argument, nullptr, row.id});
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

// The rows' names and values in a column of 28, their help beside them.
std::string Help() {
    std::string help =
        "Usage: orbix-keypad-sim [OPTION]...\n"
        "Serves a simulated ORBIX keypad on a pseudo-terminal. The first line printed\n"
        "is the device to open as the serial port. Ends on SIGINT, SIGTERM or SIGHUP.\n"
        "Numbers may be written in decimal or in hexadecimal with 0x. A value may follow\n"
        "as --opt=VALUE or --opt VALUE; -- ends the options.\n\n";
    const std::string column(28, ' ');
    for (const OptionRow& row : Options()) {
        if (row.heading) help += std::string("\n") + row.heading + (*row.heading ? "\n" : "");
        bool shortForm = row.id == OPT_HELP || row.id == OPT_VERSION;
        std::string left = std::string(shortForm ? "  -" + std::string(1, static_cast<char>(row.id)) + ", --" : "  --") +
                           row.name + (*row.value ? std::string(" ") + row.value : "");
        left.append(column.size() - left.size(), ' ');
        std::string text = row.help;
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += column.size() + 1)
            text.insert(at + 1, column);
        help += left + text + "\n";
    }
    return help;
}

const char* OptionName(int id) {
    for (const OptionRow& row : Options())
        if (row.id == id) return row.name;
    return "?";
}

struct CommandName {
    const char* name;
    uint8_t code;
};
const CommandName COMMAND_NAMES[] = {
    {"sync", CMD_SYNC},          {"fw-mem-id", CMD_GET_FW_MEM_ID},  {"scr-mem-id", CMD_GET_SCR_MEM_ID},
    {"erase", CMD_ERASE_SECTOR}, {"set-index", CMD_SET_PROG_INDEX}, {"fw-data", CMD_FW_DATA},
    {"scr-data", CMD_SCR_DATA},  {"checksum", CMD_CHECKSUM_QUERY},  {"execute", CMD_EXECUTE},
};

// Decimal, or hexadecimal after 0x; the whole text must be the number.
bool ParseNumber(const char* text, int64_t low, int64_t high, int64_t& value) {
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (text[0] < '0' || (text[0] > '9' && base == 10) || !isxdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = strtoull(text, &end, base);
    if (errno != 0 || *end != '\0' || v > static_cast<unsigned long long>(high)) return false;
    value = static_cast<int64_t>(v);
    return value >= low;
}

volatile sig_atomic_t g_signalWrite = -1;

void OnSignal(int) {
    const int saved = errno;
    const char b = 1;
    if (g_signalWrite >= 0) [[maybe_unused]]
        ssize_t n = write(g_signalWrite, &b, 1);
    errno = saved;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    // An empty area has no data() to pass: fwrite's pointer must not be null.
    const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

int Dump(const CKeypadModel& model, const std::string& dir) {
    const std::string firmware = dir + "/firmware.bin";
    const std::string screens = dir + "/screens.bin";
    const std::string record = dir + "/valid-record.bin";
    int failed = 0;
    auto write = [&](const std::string& path, const std::vector<uint8_t>& bytes) {
        if (WriteFile(path, bytes)) return;
        fprintf(stderr, "orbix-keypad-sim: cannot write %s: %s\n", path.c_str(), strerror(errno));
        failed = 1;
    };
    write(firmware, model.AreaContents(KEYPAD_AREA_FIRMWARE));
    write(screens, model.AreaContents(KEYPAD_AREA_SCREENS));
    // A record from an earlier run must not pass for one from this run.
    unlink(record.c_str());
    if (!model.ValidRecord().empty()) write(record, model.ValidRecord());
    return failed ? EXIT_FAILED : EXIT_SUCCESS;
}

// Makes `link` point at `device`, replacing an older symlink but nothing else.
bool MakeLink(const std::string& link, const std::string& device) {
    if (symlink(device.c_str(), link.c_str()) == 0) return true;
    struct stat st {};
    if (errno != EEXIST || lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    return unlink(link.c_str()) == 0 && symlink(device.c_str(), link.c_str()) == 0;
}

void RemoveLink(const std::string& link, const std::string& device) {
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n < 0) return;
    target[n] = '\0';
    // Another simulator may have taken the name over since.
    if (device == target) unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    KeypadConfig config;
    std::string linkPath;
    std::string dumpDir;
    bool exitAfterUpdate = false;
    int swapAfterUpdateMs = -1;
    int swaps = SWAPS_DEFAULT;
    int firstKeypadAfterMs = 0;

    int id;
    const std::vector<option> longOptions = LongOptions();
    while ((id = getopt_long(argc, argv, "hV", longOptions.data(), nullptr)) != -1) {
        int64_t v = 0;
        auto number = [&](int64_t low, int64_t high) {
            if (ParseNumber(optarg, low, high, v)) return true;
            fprintf(stderr, "orbix-keypad-sim: invalid value \"%s\" for --%s (expected %lld..%lld)\n", optarg,
                    OptionName(id), static_cast<long long>(low), static_cast<long long>(high));
            return false;
        };
        auto set = [&]<typename T>(T& field, int64_t low, int64_t high) {
            if (!number(low, high)) return false;
            field = static_cast<T>(v);
            return true;
        };
        constexpr int64_t INT_LIMIT = 0x7FFFFFFF;
        constexpr int64_t MS_LIMIT = 600000;
        bool ok = true;
        switch (id) {
            case OPT_LINK:
                linkPath = optarg;
                break;
            case OPT_EXIT_AFTER_UPDATE:
                exitAfterUpdate = true;
                break;
            case OPT_SWAP_AFTER_UPDATE:
                ok = set(swapAfterUpdateMs, 0, MS_LIMIT);
                break;
            case OPT_SWAPS:
                ok = set(swaps, 1, INT_LIMIT);
                break;
            case OPT_FIRST_KEYPAD_AFTER:
                ok = set(firstKeypadAfterMs, 0, MS_LIMIT);
                break;
            case OPT_DUMP_DIR:
                dumpDir = optarg;
                break;
            case OPT_FW_LAST:
                ok = set(config.firmwareLastSector, 0, 255);
                break;
            case OPT_SCR_LAST:
                ok = set(config.screensLastSector, 0, 255);
                break;
            case OPT_PROGRAM_INDEX:
                ok = set(config.programIndex, 0, 0xFFFFFFFF);
                break;
            case OPT_TAG:
                ok = set(config.tagValue, 0, 0xFFFFFFFF);
                break;
            // Every erased sector is held in memory.
            case OPT_SECTOR_SIZE:
                ok = set(config.sectorSize, 2, 64 << 20);
                break;
            case OPT_BAUD:
                ok = set(config.baud, 0, 100000000);
                break;
            case OPT_ERASE_MS:
                ok = set(config.eraseMsPerSector, 0, MS_LIMIT);
                break;
            case OPT_WRITE_MS:
                ok = set(config.writeMsPerChunk, 0, MS_LIMIT);
                break;
            case OPT_REPLY_DELAY_MS:
                ok = set(config.replyDelayMs, 0, MS_LIMIT);
                break;
            case OPT_SILENT:
                config.silent = true;
                break;
            case OPT_SILENT_AFTER:
                ok = set(config.silentAfter, 1, INT_LIMIT);
                break;
            case OPT_DROP:
                ok = set(config.dropFrom, 1, INT_LIMIT);
                break;
            case OPT_DROP_COUNT:
                ok = set(config.dropCount, 1, INT_LIMIT);
                break;
            case OPT_CORRUPT:
                ok = set(config.corruptReply, 1, INT_LIMIT);
                break;
            case OPT_DUPLICATE:
                ok = set(config.duplicateReply, 1, INT_LIMIT);
                break;
            case OPT_FAIL_COMMAND: {
                ok = false;
                for (const CommandName& c : COMMAND_NAMES) {
                    if (strcmp(optarg, c.name) == 0) {
                        config.failCommand = c.code;
                        ok = true;
                    }
                }
                if (!ok && ParseNumber(optarg, 1, 255, v)) {
                    config.failCommand = static_cast<uint8_t>(v);
                    ok = true;
                }
                if (!ok)
                    fprintf(stderr,
                            "orbix-keypad-sim: invalid value \"%s\" for --fail-command (expected a code 0x01..0xFF "
                            "or a command name; see --help)\n",
                            optarg);
                break;
            }
            case OPT_FAIL_OCCURRENCE:
                ok = set(config.failOccurrence, 1, INT_LIMIT);
                break;
            case OPT_ACK_EXECUTE:
                config.ackExecute = true;
                break;
            case OPT_RANDOM_FAULTS:
                ok = set(config.randomFaultPercent, 0, 100);
                break;
            case OPT_SEED: {
                int seed = 1;
                ok = set(seed, 1, INT_LIMIT);
                config.randomSeed = static_cast<uint32_t>(seed);
                break;
            }
            case OPT_HELP:
                fputs(Help().c_str(), stdout);
                return EXIT_SUCCESS;
            case OPT_VERSION:
                printf("orbix-keypad-sim %s\n", ORBIX_VERSION_TEXT);
                return EXIT_SUCCESS;
            default:  // getopt_long has said what was wrong
                fputs("Try 'orbix-keypad-sim --help'.\n", stderr);
                return EXIT_USAGE;
        }
        if (!ok) return EXIT_USAGE;
    }
    if (optind < argc) {
        fprintf(stderr, "orbix-keypad-sim: unexpected argument \"%s\"\nTry 'orbix-keypad-sim --help'.\n", argv[optind]);
        return EXIT_USAGE;
    }
    if (!dumpDir.empty() && mkdir(dumpDir.c_str(), 0777) != 0 && errno != EEXIST) {
        fprintf(stderr, "orbix-keypad-sim: cannot create %s: %s\n", dumpDir.c_str(), strerror(errno));
        return EXIT_FAILED;
    }

    CKeypadPtyServer server(config);
    server.exitAfterUpdate = exitAfterUpdate;
    server.swapAfterUpdateMs = swapAfterUpdateMs;
    server.swapsLeft = swaps;
    server.firstKeypadAfterMs = firstKeypadAfterMs;
    std::string error;
    if (!server.Open(error)) {
        fprintf(stderr, "orbix-keypad-sim: cannot create a pseudo-terminal: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    const std::string& device = server.DevicePath();
    if (!linkPath.empty() && !MakeLink(linkPath, device)) {
        fprintf(stderr, "orbix-keypad-sim: cannot make the link %s: %s\n", linkPath.c_str(), strerror(errno));
        return EXIT_FAILED;
    }

    // The handler only wakes Serve(); everything else happens here.
    int signalPipe[2];
    if (pipe(signalPipe) != 0) {
        fprintf(stderr, "orbix-keypad-sim: pipe: %s\n", strerror(errno));
        if (!linkPath.empty()) RemoveLink(linkPath, device);
        return EXIT_FAILED;
    }
    fcntl(signalPipe[1], F_SETFL, fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
    g_signalWrite = signalPipe[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    server.stopFd = signalPipe[0];

    printf("%s\n", device.c_str());
    fflush(stdout);

    server.Serve();
    server.Stop();

    int code = EXIT_SUCCESS;
    if (!dumpDir.empty()) code = Dump(server.Model(), dumpDir);
    if (!linkPath.empty()) RemoveLink(linkPath, device);
    return code;
}
