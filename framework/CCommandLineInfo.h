// The parsed command line: no argument means New, a file name means Open.
#pragma once

#include <string>

namespace win {

class CCommandLineInfo {
public:
    enum { FileNew, FileOpen, FileNothing };
    int m_nShellCommand = FileNew;
    std::string m_strFileName;
    /// Takes one argument; the framework knows no switches, so flags are ignored.
    virtual void ParseParam(const char* param, bool flag, bool last);
    virtual ~CCommandLineInfo() = default;
};

}  // namespace win
