// A small resource table for the framework tests, installed by InstallTestResources.
#pragma once

#include "platform/WinTypes.h"

namespace fwtest {

// Commands of the test menu: each handled at one place on the route.
inline constexpr win::UINT kViewCmd = 100;
inline constexpr win::UINT kDocCmd = 101;
inline constexpr win::UINT kFrameCmd = 102;
inline constexpr win::UINT kAppCmd = 103;
inline constexpr win::UINT kUnhandledCmd = 104;
inline constexpr win::UINT kAllCmd = 105;  // listed by view, document, frame and application
inline constexpr win::UINT kDialogId = 130;
inline constexpr int kComboId = 1001;

void InstallTestResources();

}  // namespace fwtest
