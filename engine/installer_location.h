// Where the registry says the Windows Installer engine lives.
#pragma once

#include "platform/owned_text.h"
#include "seam/win32_api.h"

// The engine's registry key under HKEY_LOCAL_MACHINE, and the value naming its directory.
extern const char16_t kInstallerKey[];
extern const char16_t kInstallerLocationValue[];

// Reads "InstallerLocation" from an open key as a string, tolerating badly stored values.
// True when a string (possibly empty) was read; on failure `location` is left empty.
bool ReadInstallerLocation(HKEY key, OwnedText* location);

// The engine path the registry names: "InstallerLocation" followed by "\msi.dll", or empty
// when the key or value cannot be read, or the value is empty or not an absolute path (a
// drive letter and a backslash, or two backslashes).
OwnedText RegisteredEnginePath();
