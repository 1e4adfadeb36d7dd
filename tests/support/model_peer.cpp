#include "model_peer.h"

#include <cstdio>
#include <stdexcept>

ModelPeer::ModelPeer(FakeHost& host, const KeypadConfig& config) : m_host(host), m_model(config) {
    m_host.onWrite = [this](const std::vector<uint8_t>& frame) {
        std::vector<KeypadReply> replies;
        m_model.Receive(frame.data(), frame.size(), replies);
        for (const KeypadReply& reply : replies) {
            if (pass && !pass(frame, reply)) {
                ++lostReplies;
                continue;
            }
            m_host.Deliver(reply.bytes, reply.delayMs);
        }
    };
}

// The host may outlive the peer; it must not call into a dead one.
ModelPeer::~ModelPeer() { m_host.onWrite = nullptr; }

bool DecodeSentFrame(const std::vector<uint8_t>& bytes, SentFrame& frame) {
    if (bytes.empty() || bytes[0] != 0xF0) return false;
    std::vector<uint8_t> plain;
    for (size_t i = 1; i < bytes.size(); ++i) {
        uint8_t b = bytes[i];
        if (b == 0xF0) return false;
        if (b == 0xF1) {
            if (++i == bytes.size()) return false;
            b = static_cast<uint8_t>(bytes[i] ^ 0xFF);
        }
        plain.push_back(b);
    }
    // Sequence, length, payload, sum.
    if (plain.size() < 3 || plain.size() != static_cast<size_t>(plain[1]) + 3) return false;
    frame.sequence = plain[0];
    frame.payload.assign(plain.begin() + 2, plain.end() - 1);
    uint8_t sum = 0;
    for (uint8_t b : frame.payload) sum = static_cast<uint8_t>(sum + b);
    frame.sumGood = sum == plain.back();
    return true;
}

std::vector<SentFrame> SentFrames(const FakeHost& host) {
    std::vector<SentFrame> out;
    for (const TimedFrame& t : host.frames) {
        SentFrame f;
        if (!DecodeSentFrame(t.bytes, f)) continue;
        f.ms = t.ms;
        out.push_back(std::move(f));
    }
    return out;
}

std::vector<SentFrame> SentFrames(const FakeHost& host, uint8_t code) {
    std::vector<SentFrame> out;
    for (SentFrame& f : SentFrames(host))
        if (!f.payload.empty() && f.payload[0] == code) out.push_back(std::move(f));
    return out;
}

std::string SRecordText(const std::vector<uint8_t>& image) {
    if (image.size() > 0x10000) throw std::length_error("S1 records address 64 KiB at most");
    std::string text = "S0030000FC\n";
    char hex[3];
    for (size_t at = 0; at < image.size(); at += 32) {
        size_t n = std::min<size_t>(32, image.size() - at);
        // Count covers the two address bytes, the data and the checksum.
        unsigned sum = static_cast<unsigned>(n + 3) + (at >> 8 & 0xFF) + (at & 0xFF);
        char head[16];
        std::snprintf(head, sizeof head, "S1%02X%04X", static_cast<unsigned>(n + 3), static_cast<unsigned>(at));
        text += head;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(hex, sizeof hex, "%02X", image[at + i]);
            text += hex;
            sum += image[at + i];
        }
        std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
        text += hex;
        text += '\n';
    }
    return text + "S9030000FC\n";
}
