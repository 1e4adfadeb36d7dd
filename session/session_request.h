#pragma once
#include <memory>
#include <optional>
#include <string>

#include "run_defaults.h"
#include "serial/port_naming.h"

struct CImageFile;

// What a session does with its keypad.
enum KeypadCommand { KEYPAD_TEST, KEYPAD_SCAN, KEYPAD_FIRMWARE, KEYPAD_SCREENS };

// The command's word ("firmware"), as results name it.
const char* KeypadCommandWord(KeypadCommand command);
// What an update (firmware or screens) cut off after its first erase leaves, in the words of every
// front end: "The keypad holds no valid firmware and stays in its update mode: run the update again."
std::string HoldsNoValidText(KeypadCommand update);
// The same asked before stopping: "The keypad will have no valid screens until it is updated
// again.", or of every keypad being updated.
std::string WillHoldNoValidText(KeypadCommand update, bool everyKeypad = false);

struct SessionRequest;
// The port a session opens when something names it: the simulated keypad's
// device, else the request's port (checked with the other options). None:
// the settings store's port.
std::optional<PortSpec> RequestedPort(const SessionRequest& request, const std::string& simulatedDevice);

// One keypad session's work, or that of a runner of many: no front end's
// options, only what the sessions act on.
struct SessionRequest {
    KeypadCommand command = KEYPAD_TEST;
    std::string file;  // the bytes of the name as given
    std::string port;  // as the user named it; empty: the settings store's
    bool yes = false;  // the erase is confirmed already: no question
    bool trace = false;
    bool quiet = false;
    bool repeat = false;  // station mode
    int stallTimeoutSeconds = DEFAULT_STALL_TIMEOUT_SECONDS;
    std::string expectedSha256;  // the image must hash to it (hex); empty: any image
    // The update's file once read: every keypad of the run gets these bytes.
    std::shared_ptr<const CImageFile> image;
};

// How a session's questions are answered (a person at a terminal, options
// given beforehand), and whether an interruption came before the session
// could be told. A runner asks from its sessions' threads.
class ISessionPolicy {
public:
    enum Answer { ANSWER_YES, ANSWER_NO, ANSWER_NONE };  // NONE: nobody could answer
    struct Reply {
        Answer answer = ANSWER_NO;
        std::string note;  // said as an error: why not, or a warning that goes with a yes
    };
    virtual ~ISessionPolicy() = default;
    virtual Reply ConfirmErase(const std::string& question) = 0;
    virtual Reply AcceptDamagedFile(const std::string& question) = 0;
    // The exit code of an interruption not yet passed on by Interrupt (a
    // signal taken while a file was read), else 0.
    virtual int PendingInterrupt() const { return 0; }
};
