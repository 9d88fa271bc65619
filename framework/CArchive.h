// The archive a document serialises through: a file opened for loading or
// storing. Documents that carry nothing write nothing, so the file stays empty.
#pragma once

#include <cstddef>
#include <fstream>

#include "platform/WinTypes.h"

namespace win {

class CArchive {
public:
    enum Mode { load = 1, store = 0 };
    CArchive(std::fstream& file, Mode mode) : m_file(file), m_mode(mode) {}

    BOOL IsStoring() const { return m_mode == store; }
    BOOL IsLoading() const { return m_mode == load; }
    void Write(const void* data, std::size_t size) { m_file.write(static_cast<const char*>(data), size); }
    /// The number of bytes read.
    std::size_t Read(void* data, std::size_t size) {
        m_file.read(static_cast<char*>(data), size);
        return static_cast<std::size_t>(m_file.gcount());
    }

private:
    std::fstream& m_file;
    Mode m_mode;
};

}  // namespace win
