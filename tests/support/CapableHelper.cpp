// The capable copy of the capture helper: copied, made world-executable and
// given cap_net_raw=ep with setcap, in a folder every user may enter.
#include "tests/support/CapableHelper.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace testsupport {

CapableHelper::CapableHelper(const std::string& source) {
    if (geteuid() != 0) {
        m_reason = "giving the helper its capability needs root";
        return;
    }
    char dir[] = "/tmp/qv-capable-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        m_reason = "mkdtemp failed";
        return;
    }
    m_dir = dir;
    chmod(dir, 0755);
    std::string path = m_dir + "/quorvane-capture";
    std::error_code error;
    std::filesystem::copy_file(source, path, error);
    if (error || chmod(path.c_str(), 0755) != 0) {
        m_reason = "copying the helper failed";
        return;
    }
    const std::string command = "setcap cap_net_raw=ep '" + path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        m_reason = "setcap failed (is libcap2-bin installed?)";
        return;
    }
    m_path = path;
}

CapableHelper::~CapableHelper() {
    if (m_dir.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(m_dir, error);
}

}  // namespace testsupport
