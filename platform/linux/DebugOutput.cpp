// OutputDebugStringA: the debugger trace goes to standard error, unchanged,
// in one write per call so that lines from several threads do not interleave.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/WinKernel.h"

namespace win {

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) return;
    const char* rest = text;
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, rest, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // nobody to tell
        }
        rest += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace win
