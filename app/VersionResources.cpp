// The version block (resource 1) and the manifest text. The manifest asks only
// for administrator rights; on Linux that request is met by the capture
// capabilities the install step grants the program file.
#include "app/ProgramResources.h"
#include "app/Resource.h"

namespace win {
namespace {

constexpr VersionStringResource kVersionStrings[] = {
    {"CompanyName", "Tembrook"},
    {"FileDescription", "Quorvane Packet Sniffer"},
    {"FileVersion", "2, 0, 0, 1"},
    {"InternalName", "Quorvane"},
    {"LegalCopyright", "Copyright (C) 2002 Tembrook"},
    {"OriginalFilename", "Quorvane.EXE"},
    {"ProductName", "Quorvane Application"},
    {"ProductVersion", "2, 0, 0, 1"},
};

constexpr VersionResource kVersion{
    {2, 0, 0, 1}, {2, 0, 0, 1}, VS_FFI_FILEFLAGSMASK, 0, VOS__WINDOWS32, VFT_APP, "040904b0", kVersionStrings,
    0x0409,       1200,
};

constexpr const char kManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
    "    <security>\n"
    "      <requestedPrivileges>\n"
    "        <requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>\n"
    "      </requestedPrivileges>\n"
    "    </security>\n"
    "  </trustInfo>\n"
    "</assembly>\n";

}  // namespace

const VersionResource& ProgramVersion() {
    return kVersion;
}

const char* ProgramManifest() {
    return kManifest;
}

}  // namespace win
