// The program's resource table: every string, menu, accelerator table, toolbar,
// bitmap, icon, dialog template, the version block and the manifest, as
// constant data. The application object registers it with the framework before
// the application starts.
#pragma once

#include <span>

#include "framework/Resources.h"

namespace win {

/// The whole table; the same object on every call, valid for the program's life.
const ResourceTable& ProgramResources();

/// Hands ProgramResources() to the framework (AfxSetResourceTable). The
/// application object's constructor calls it; tests call it before they build
/// windows from the tables. Calling it again is harmless.
void RegisterProgramResources();

/// The parts of the table, one per source file.
std::span<const StringResource> ProgramStrings();
std::span<const MenuResource> ProgramMenus();
std::span<const AcceleratorResource> ProgramAccelerators();
std::span<const ToolbarResource> ProgramToolbars();
std::span<const BitmapResource> ProgramBitmaps();
std::span<const IconResource> ProgramIcons();
std::span<const DialogResource> ProgramDialogs();
const VersionResource& ProgramVersion();
const char* ProgramManifest();

}  // namespace win
