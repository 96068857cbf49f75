// The folder of the switcher's own image and the paths of the files beside
// it: the configuration tool, and the image itself for its shortcut.
#pragma once

#include <windows.h>

struct ProgramFolder {
    wchar_t Path[MAX_PATH];  // with its trailing backslash; empty when unknown
    DWORD Error;             // why Path is empty: the failure of GetModuleFileNameW
};

// The folder of the module's image. A path that does not fit MAX_PATH leaves
// the folder empty: cut at the buffer's end it would name some other folder.
void GetProgramDirectory(HINSTANCE instance, ProgramFolder& folder) noexcept;

// first + second into out; false when it does not fit.
[[nodiscard]] bool JoinPath(wchar_t (&out)[MAX_PATH], const wchar_t* first, const wchar_t* second) noexcept;

// fileName in the program's folder. An unknown folder fails, logged under the
// caller's tag: a bare file name would make the shell look for a program of
// that name in the working folder. A joined path that does not fit fails
// without a line.
[[nodiscard]] bool PathBesideProgram(const ProgramFolder& folder, const wchar_t* fileName, wchar_t (&path)[MAX_PATH],
                                     const char* tag) noexcept;
