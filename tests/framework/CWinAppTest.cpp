// The command line as the framework reads it: no argument is New, a file
// name is Open (an absolute path starting with "/" is a file name, not a
// switch), switches start with "-" until "--".
#include "framework/CWinApp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace win {
namespace {

/// Records every argument as ParseParam gets it.
class RecordingInfo : public CCommandLineInfo {
public:
    std::vector<std::string> seen;
    void ParseParam(const char* param, bool flag, bool last) override {
        seen.push_back(std::string(flag ? "switch:" : "file:") + param + (last ? " (last)" : ""));
        CCommandLineInfo::ParseParam(param, flag, last);
    }
};

TEST(CWinAppTest, ArgumentsBecomeFileNamesOrSwitches) {
    struct Case {
        std::vector<std::string> args;
        int command;
        std::string file;
        std::vector<std::string> seen;
    };
    const Case cases[] = {
        {{}, CCommandLineInfo::FileNew, "", {}},
        {{"/tmp/capture"}, CCommandLineInfo::FileOpen, "/tmp/capture", {"file:/tmp/capture (last)"}},
        {{"relative.qv"}, CCommandLineInfo::FileOpen, "relative.qv", {"file:relative.qv (last)"}},
        {{"-x", "/a b/c"}, CCommandLineInfo::FileOpen, "/a b/c", {"switch:x", "file:/a b/c (last)"}},
        {{"--", "-dash"}, CCommandLineInfo::FileOpen, "-dash", {"file:-dash (last)"}},
        {{"-"}, CCommandLineInfo::FileOpen, "-", {"file:- (last)"}},
        {{"-only"}, CCommandLineInfo::FileNew, "", {"switch:only (last)"}},
        {{"/first", "/second"}, CCommandLineInfo::FileOpen, "/first", {"file:/first", "file:/second (last)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("none") : c.args.front());
        RecordingInfo info;
        CWinApp::ParseArguments(c.args, info);
        EXPECT_EQ(info.m_nShellCommand, c.command);
        EXPECT_EQ(info.m_strFileName, c.file);
        EXPECT_EQ(info.seen, c.seen);
    }
}

}  // namespace
}  // namespace win
