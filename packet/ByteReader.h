// A bounds-checked big-endian reader over the bytes of one received datagram.
// Every header field is read through it: an offset at or past the end reads as
// zero, so a short datagram never exposes memory beyond what was received.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

class ByteReader {
public:
    ByteReader(const win::BYTE* data, std::size_t size) : m_pData(data), m_nSize(size) {}

    win::BYTE u8(std::size_t offset) const { return offset < m_nSize ? m_pData[offset] : 0; }

    win::WORD u16(std::size_t offset) const
    {
        return static_cast<win::WORD>((u8(offset) << 8) | u8(offset + 1));
    }

    win::DWORD u32(std::size_t offset) const
    {
        return (static_cast<win::DWORD>(u16(offset)) << 16) | u16(offset + 2);
    }

private:
    const win::BYTE* m_pData;
    std::size_t m_nSize;
};
