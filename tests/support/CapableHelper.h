// A copy of the capture helper installed as the package installs it, for
// tests of what an ordinary user who may run it can and cannot do: the file
// carries cap_net_raw=ep and any user may run it (the group check of the
// package is the file's mode, which these tests do not need). The copy lives
// in a fresh folder that is removed at destruction. Needs root and setcap.
#pragma once

#include <string>

namespace testsupport {

class CapableHelper {
public:
    /// Copies the helper at source; Path() is empty when that failed, and
    /// Reason() says why.
    explicit CapableHelper(const std::string& source);
    ~CapableHelper();
    CapableHelper(const CapableHelper&) = delete;
    CapableHelper& operator=(const CapableHelper&) = delete;

    const std::string& Path() const { return m_path; }
    const std::string& Reason() const { return m_reason; }

private:
    std::string m_dir;
    std::string m_path;
    std::string m_reason;
};

}  // namespace testsupport
