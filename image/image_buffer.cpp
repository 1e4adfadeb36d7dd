#include "image_buffer.h"

#include <new>


int CImageBuffer::Allocate(size_t size) {
    Release();
    // One byte at least, so that an empty image still has an array to point at.
    m_imageData.reset(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!m_imageData) return 0;
    m_capacity = size;
    return 1;
}

void CImageBuffer::Release() {
    m_imageData.reset();
    m_capacity = 0;
    m_imageLength = 0;
}
