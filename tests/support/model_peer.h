#pragma once
// The keypad end of a FakeHost's wire: every frame the engine writes goes to a
// CKeypadModel, and each reply comes back after the model's delay, in virtual
// time. Also decodes what the loader put on the wire, for tests that look at
// the frames themselves.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/keypad_model.h"
#include "support/fake_host.h"

class ModelPeer {
public:
    explicit ModelPeer(FakeHost& host, const KeypadConfig& config = KeypadConfig());
    ~ModelPeer();
    ModelPeer(const ModelPeer&) = delete;
    ModelPeer& operator=(const ModelPeer&) = delete;

    CKeypadModel& Model() { return m_model; }

    // Asked for every reply the model gives: true sends it back to the loader,
    // false loses it on the way. Unset: every reply goes back.
    std::function<bool(const std::vector<uint8_t>& frame, const KeypadReply& reply)> pass;
    int lostReplies = 0;

private:
    FakeHost& m_host;
    CKeypadModel m_model;
};

// One loader frame with the escaping undone.
struct SentFrame {
    int64_t ms = 0;
    uint8_t sequence = 0;
    std::vector<uint8_t> payload;  // the length byte's worth, code first
    bool sumGood = false;
};

// Undoes the escaping of a loader-to-keypad frame. Returns false for anything
// that is not one whole frame.
bool DecodeSentFrame(const std::vector<uint8_t>& bytes, SentFrame& frame);

// Every frame the host logged, decoded (malformed ones are skipped).
std::vector<SentFrame> SentFrames(const FakeHost& host);

// Only those whose payload begins with `code`.
std::vector<SentFrame> SentFrames(const FakeHost& host, uint8_t code);

// Motorola S-record text for an image placed from address 0: the header line
// "S0030000FC", S1 data records of up to 32 bytes, and an S9 end line.
std::string SRecordText(const std::vector<uint8_t>& image);
