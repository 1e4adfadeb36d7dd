#pragma once
#include <cstdint>
#include <string>

#include "file_steps.h"
#include "../image/image_buffer.h"
#include "user_host.h"
#include "../link/frame_codec.h"
#include "loader_host.h"

// MODE_SCAN is the command line's: the connection test, then both Memory ID
// records read, nothing written.
enum LoaderMode { MODE_IDLE = 0, MODE_SCREENS = 1, MODE_FIRMWARE = 2, MODE_TEST = 3, MODE_SCAN = 4 };

// The steps of the two updates, each named by what is out and awaits the
// keypad's reply. A screens update ends at its last chunk's reply.
enum FirmwareStep {
    FW_PROBE,          // the connection probe
    FW_MEMORY_ID,      // the firmware Memory ID request
    FW_ERASE,          // an erase, sector by sector
    FW_PROGRAM_INDEX,  // the programming index; its reply sends the first chunk
    FW_DATA,           // a data chunk
    FW_LAST_CHUNK,     // the last data chunk
    FW_CHECKSUM,       // the checksum query
    FW_VALID_INDEX,    // the index again, for the Valid data record
    FW_VALID_DATA,     // the Valid data record
    FW_EXECUTE,        // the execute command; its reply completes the update
};
// The screens update numbers its steps as the firmware's: the erase and data
// steps run both. It has no checksum, Valid data record or execute (5 to 8),
// so its last chunk takes the firmware's last number, the step whose reply
// completes the update.
enum ScreensStep {
    SCR_PROBE,
    SCR_MEMORY_ID,
    SCR_ERASE,
    SCR_PROGRAM_INDEX,
    SCR_DATA,
    SCR_LAST_CHUNK = FW_EXECUTE,  // its reply completes the update
};
// A scan's steps, each named by what awaits the keypad's reply.
enum ScanStep {
    SCAN_PROBE,        // the connection probe
    SCAN_FIRMWARE_ID,  // the firmware Memory ID request
    SCAN_SCREENS_ID,   // the screens Memory ID request; its reply ends the scan
};

constexpr const char* QUESTION_ERASE_FIRMWARE = "This will erase the current ORBIX firmware. Proceed?";
constexpr const char* QUESTION_ERASE_SCREENS = "This will erase the current ORBIX screens. Proceed?";

constexpr int ACTIVITY_MAX = 50;
constexpr int FIRMWARE_FIRST_SECTOR = 6;
constexpr int SCREENS_FIRST_SECTOR = 1;
constexpr int FIRMWARE_INITIAL_ESTIMATE = 20;
constexpr int SCREENS_INITIAL_ESTIMATE = 1080;
constexpr int ESTIMATE_CHUNK_INTERVAL = 400;

// Runs one operation at a time against the keypad: connection test, firmware
// update, screens update. It moves only when an event comes in: a button, a
// received byte, a timer.
class CLoaderEngine : private IPayloadHandler {
public:
    explicit CLoaderEngine(ILoaderHost& host);

    // Buttons and commands.
    void OnTestConnection();
    void OnScanKeypad();
    // Abort: ends a running operation; does nothing while idle (closing is the
    // front end's business).
    void Abort();

    // The two halves of each update: the file step, whose result the front
    // end shows, then, once it was accepted, the question and the probe.
    FileStepResult LoadFirmwareFile();
    FileStepResult LoadScreensFile();
    void StartFirmwareUpdate();
    void StartScreensUpdate();

    // Ends an update when the keypad has not answered for this long where no
    // reply timer resends (0: never). namePlace adds the step or data chunk to
    // the text.
    void SetStallGuard(int seconds, bool namePlace);

    // Events.
    void FeedBytes(const uint8_t* data, int count) { m_parser.FeedBytes(data, count); }
    void OnTimer(int id);
    // Ends a running operation from outside (port lost, keypad stalled) with
    // the given status text; does nothing while idle.
    void EndOperation(const std::string& statusText, LoaderOutcome outcome);

    void SetStatus(const std::string& text);

    // Window initialisation clears the sender's counters.
    void ResetSender() { m_sender.Reset(); }

    int Mode() const { return m_mode; }
    bool IsBusy() const { return m_mode != MODE_IDLE; }
    LoaderOutcome Outcome() const { return m_outcome; }
    const std::string& StatusText() const { return m_statusText; }
    const CImageBuffer& Image() const { return m_image; }
    uint32_t DataPosition() const { return m_dataPosition; }
    FirmwareStep CurrentFirmwareStep() const { return m_firmwareStep; }
    ScreensStep CurrentScreensStep() const { return m_screensStep; }
    int SecondsRemaining() const { return m_secondsRemaining; }
    const std::string& StepDescription() const { return m_stepDescription; }
    // An erase command went out in this operation: the area no longer holds
    // what it did, whatever happens next.
    bool EraseSent() const { return m_eraseSent; }
    // The Memory ID fields read in this operation (a firmware update reads the
    // firmware record, a screens update the screens one, a scan both).
    bool FirmwareIdRead() const { return m_firmwareIdRead; }
    bool ScreensIdRead() const { return m_screensIdRead; }
    int FirmwareLastSector() const { return m_firmwareLastSector; }
    int ScreensLastSector() const { return m_screensLastSector; }
    uint32_t ProgramIndex() const { return m_programIndex; }
    uint32_t TagValue() const { return m_tagValue; }

private:
    // Frame sending and the reply dispatch.
    void SendNewFrame();
    void ResendFrame();
    void DispatchReply(const uint8_t* payload, int length) override;
    void OnAckReply();
    void OnOkReply();
    void OnFailedReply();

    // Shared by all operations.
    void SendProbe();
    void RetryProbe();
    void RetryCommand();
    void UpdateBusyState();
    void StepActivity();
    void ResetActivity();
    void GoIdle(LoaderOutcome outcome);
    void Finish(const std::string& statusText, LoaderOutcome outcome);
    void BeginOperation(LoaderMode mode);
    int ConfirmErase(const char* question, LoaderMode mode);

    // Timers, tracked so the stall guard knows what else is watching.
    void ArmTimer(int id, int periodMs);
    void StopTimer(int id);
    bool IsArmed(int id) const { return (m_armedTimers >> id) & 1u; }
    void StopReplyTimers();

    // Replies owed: frames written minus replies received. An update whose
    // last step is answered while some are owed waits for them, so a late
    // "Failed" is not hidden behind a "complete".
    void CompleteUpdate(const char* statusText);
    void AwaitOwedReplies();
    void SettleReply(uint8_t code);
    void EndHeldCompletion();

    void RefreshStallGuard(bool answered);
    void OnStall();
    std::string StallPlace() const;

    // Message builders.
    void SendGetFirmwareMemoryId();
    void SendGetScreensMemoryId();
    void SendEraseFirmwareSector(int sector);
    void SendEraseScreensSector(int sector);
    void SendSetProgramIndex(uint32_t index);
    void SendFirmwareData();
    void SendScreensData();
    int SendDataChunk(uint8_t code);  // returns 1 once the last chunk has gone
    void SendChecksumQuery(uint32_t startIndex);
    void SendValidData();
    void SendExecute();
    void SendCode(uint8_t code);

    // Update sequences.
    void NextFirmwareStep();
    void NextScreensStep();
    void OnFirmwareMemoryId();
    void OnScreensMemoryId();
    void RequestMemoryId(bool firmware);
    void ReadFirmwareFields();
    void ReadScreensFields();
    void NextScanStep();
    int RefuseMemoryId(bool invalid);
    template <typename Step>
    void EraseNext(Step& step, int lastSector, uint8_t area);
    template <typename Step>
    void DataStep(Step& step, void (CLoaderEngine::*sendChunk)(), const char* status, int initialEstimate);
    void StartDataPhase(int initialEstimate);

    // Time remaining.
    void UpdateTimeEstimate();
    void OnCountdownTick();

    ILoaderHost& m_host;
    CFrameSender m_sender;
    CFrameParser m_parser;
    CImageBuffer m_image;
    std::string m_firmwarePath;
    std::string m_screensPath;

    int m_mode = MODE_IDLE;
    LoaderOutcome m_outcome = OUTCOME_NONE;
    FirmwareStep m_firmwareStep = FW_PROBE;
    ScreensStep m_screensStep = SCR_PROBE;
    int m_retryCount = 0;
    std::string m_stepDescription;
    std::string m_statusText;
    uint8_t m_activityCount = 0;
    int m_eraseSector = 0;
    bool m_eraseSent = false;
    bool m_firmwareIdRead = false;
    bool m_screensIdRead = false;
    ScanStep m_scanStep = SCAN_PROBE;
    unsigned m_armedTimers = 0;

    // Reply accounting of the running operation.
    uint32_t m_framesWritten = 0;
    uint32_t m_repliesReceived = 0;
    std::string m_heldCompletion;  // the completion text while replies are owed

    int m_stallSeconds = 0;
    bool m_stallNamesPlace = false;

    // From the keypad's replies.
    int m_firmwareLastSector = 0;
    int m_screensLastSector = 0;
    uint32_t m_programIndex = 0;
    uint32_t m_tagValue = 0;
    uint32_t m_endIndex = 0;
    uint32_t m_dataPosition = 0;

    // Time remaining.
    int32_t m_frameCountdown = 0;
    int64_t m_estimateTime = 0;
    uint32_t m_estimateRemaining = 0;
    int32_t m_secondsRemaining = 0;
};
