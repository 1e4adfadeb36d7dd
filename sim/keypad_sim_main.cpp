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

const char* const HELP =
    "Usage: orbix-keypad-sim [OPTION]...\n"
    "Serves a simulated ORBIX keypad on a pseudo-terminal. The first line printed\n"
    "is the device to open as the serial port. Ends on SIGINT, SIGTERM or SIGHUP.\n"
    "Numbers may be written in decimal or in hexadecimal with 0x. A value may follow\n"
    "as --opt=VALUE or --opt VALUE; -- ends the options.\n"
    "\n"
    "  --link PATH               also make PATH a symlink to the device (removed on exit)\n"
    "  --exit-after-update       end once an update is over: after the execute command\n"
    "                            is answered, or 2 s after the last screens chunk\n"
    "  --swap-after-update MS    once an update is over, the keypad is taken off the\n"
    "                            cable and a fresh one answers MS ms later, the port\n"
    "                            staying open (a jig); the dump holds the last keypad\n"
    "  --swaps N                 ... this many times (default 1)\n"
    "  --first-keypad-after MS   the line is silent for MS ms before the first keypad\n"
    "  --dump-dir DIR            on exit, write each area's contents to DIR/firmware.bin\n"
    "                            and DIR/screens.bin, and the Valid data record (if one\n"
    "                            was accepted) to DIR/valid-record.bin\n"
    "\n"
    "Memory ID record:\n"
    "  --firmware-last-sector N  last firmware sector, 0..255 (default 9); the area\n"
    "                            starts at sector 6 and spans at least that one\n"
    "  --screens-last-sector N   last screens sector, 0..255 (default 3); starts at 1\n"
    "  --program-index N         programming index (default 0x10000)\n"
    "  --tag N                   tag word (default 0xFFFFFFFF)\n"
    "  --sector-size BYTES       bytes per flash sector (default 262144)\n"
    "\n"
    "Timings:\n"
    "  --baud N                  emulate a line rate, 10 bits a byte (default 0: none)\n"
    "  --erase-ms N              time to erase one sector (default 0)\n"
    "  --write-ms N              time to write one data chunk (default 0)\n"
    "  --reply-delay-ms N        added to every reply (default 0)\n"
    "\n"
    "Faults (replies are numbered from 1):\n"
    "  --silent                  answer nothing\n"
    "  --silent-after N          answer nothing after N replies\n"
    "  --drop N                  drop reply N ...\n"
    "  --drop-count N            ... and the N-1 after it (default 1)\n"
    "  --corrupt N               send reply N with a wrong sum\n"
    "  --duplicate N             send reply N twice\n"
    "  --fail-command CODE       answer RSP_FAILED to this command: a code such as 0x84\n"
    "                            or one of sync, fw-mem-id, scr-mem-id, erase,\n"
    "                            set-index, fw-data, scr-data, checksum, execute ...\n"
    "  --fail-occurrence N       ... on its N-th occurrence (default 1)\n"
    "  --ack-execute             answer execute with ACK instead of OK\n"
    "  --random-faults PERCENT   lose or corrupt at random this share of the replies to\n"
    "                            the probe and the memory-ID requests (the loader resends)\n"
    "  --seed N                  seed of --random-faults (default 1)\n"
    "\n"
    "  -h, --help                show this text\n"
    "  -V, --version             show the version\n";

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

const option LONG_OPTIONS[] = {
    {"link", required_argument, nullptr, OPT_LINK},
    {"exit-after-update", no_argument, nullptr, OPT_EXIT_AFTER_UPDATE},
    {"swap-after-update", required_argument, nullptr, OPT_SWAP_AFTER_UPDATE},
    {"swaps", required_argument, nullptr, OPT_SWAPS},
    {"first-keypad-after", required_argument, nullptr, OPT_FIRST_KEYPAD_AFTER},
    {"dump-dir", required_argument, nullptr, OPT_DUMP_DIR},
    {"firmware-last-sector", required_argument, nullptr, OPT_FW_LAST},
    {"screens-last-sector", required_argument, nullptr, OPT_SCR_LAST},
    {"program-index", required_argument, nullptr, OPT_PROGRAM_INDEX},
    {"tag", required_argument, nullptr, OPT_TAG},
    {"sector-size", required_argument, nullptr, OPT_SECTOR_SIZE},
    {"baud", required_argument, nullptr, OPT_BAUD},
    {"erase-ms", required_argument, nullptr, OPT_ERASE_MS},
    {"write-ms", required_argument, nullptr, OPT_WRITE_MS},
    {"reply-delay-ms", required_argument, nullptr, OPT_REPLY_DELAY_MS},
    {"silent", no_argument, nullptr, OPT_SILENT},
    {"silent-after", required_argument, nullptr, OPT_SILENT_AFTER},
    {"drop", required_argument, nullptr, OPT_DROP},
    {"drop-count", required_argument, nullptr, OPT_DROP_COUNT},
    {"corrupt", required_argument, nullptr, OPT_CORRUPT},
    {"duplicate", required_argument, nullptr, OPT_DUPLICATE},
    {"fail-command", required_argument, nullptr, OPT_FAIL_COMMAND},
    {"fail-occurrence", required_argument, nullptr, OPT_FAIL_OCCURRENCE},
    {"ack-execute", no_argument, nullptr, OPT_ACK_EXECUTE},
    {"random-faults", required_argument, nullptr, OPT_RANDOM_FAULTS},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"help", no_argument, nullptr, OPT_HELP},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

const char* OptionName(int id) {
    for (const option& o : LONG_OPTIONS) {
        if (o.val == id) return o.name;
    }
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
    int swaps = 1;
    int firstKeypadAfterMs = 0;

    int id;
    while ((id = getopt_long(argc, argv, "hV", LONG_OPTIONS, nullptr)) != -1) {
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
                fputs(HELP, stdout);
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
