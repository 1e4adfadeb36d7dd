#pragma once
#include <cstdint>
#include <memory>

constexpr uint32_t FIRMWARE_IMAGE_SIZE = 1000000;

// The one image in memory: a firmware image (1,000,000 zero-filled bytes, of
// which m_imageLength count) or a screens image (the file's bytes).
class CImageBuffer {
public:
    // Releases the current array first, so there is never more than one.
    // Returns 0 when the memory cannot be had; the buffer is then empty.
    int Allocate(size_t size);
    void Release();

    uint8_t* Data() { return m_imageData.get(); }
    const uint8_t* Data() const { return m_imageData.get(); }
    size_t Capacity() const { return m_capacity; }
    uint32_t Length() const { return m_imageData ? m_imageLength : 0; }
    void SetLength(uint32_t length) { m_imageLength = length; }

private:
    std::unique_ptr<uint8_t[]> m_imageData;
    size_t m_capacity = 0;
    uint32_t m_imageLength = 0;
};
