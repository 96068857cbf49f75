// The taskbar options: the switcher's shortcut is created in the user's
// temporary folder and deleted again; nothing is pinned or unpinned.
#pragma once

#include "switcher/program_folder.h"

// Failures are silent, except an unknown program folder, which is logged and
// leaves the shortcut alone.
void DoTaskbarPin(const ProgramFolder& folder) noexcept;
void DoTaskbarUnpin(const ProgramFolder& folder) noexcept;
