// The archive a document serialises through: a file opened for loading or
// storing. The framework opens and closes the file and checks it for write
// errors; a document may also hand the file to a library of its own.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/WinTypes.h"

namespace win {

class CArchive {
public:
    enum Mode { load = 1, store = 0 };
    CArchive(std::FILE* file, Mode mode) : m_file(file), m_mode(mode) {}

    BOOL IsStoring() const { return m_mode == store; }
    BOOL IsLoading() const { return m_mode == load; }
    void Write(const void* data, std::size_t size) { std::fwrite(data, 1, size, m_file); }
    /// The number of bytes read.
    std::size_t Read(void* data, std::size_t size) { return std::fread(data, 1, size, m_file); }
    /// The file itself (the framework keeps owning it).
    std::FILE* GetFile() const { return m_file; }

private:
    std::FILE* m_file;
    Mode m_mode;
};

}  // namespace win
