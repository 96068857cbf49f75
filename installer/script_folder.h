// The folder the installer's diskpart scripts and batch files are written to
// and run from. It is made fresh for each run under the installer's
// program-data folder with a DACL that lets only SYSTEM and Administrators
// in, held open so that it cannot be renamed or replaced while the run lasts,
// and removed afterwards: no unelevated process can change a script between
// its write and its run.
#pragma once

#include "common/ownership.h"

#include <string>

// The descriptor the folder is made with: a protected DACL granting full
// control to SYSTEM and Administrators only, inherited by its files. Null
// when it cannot be built.
[[nodiscard]] obrin::UniqueLocalMem BuildScriptFolderSecurity() noexcept;

class CScriptFolder {
public:
    // Makes the folder; valid() says whether that worked (the failure is logged).
    CScriptFolder() noexcept;
    // Deletes what is left in it, then the folder.
    ~CScriptFolder();
    CScriptFolder(const CScriptFolder&) = delete;
    CScriptFolder& operator=(const CScriptFolder&) = delete;

    [[nodiscard]] bool valid() const noexcept { return m_hold.valid(); }

private:
    std::wstring m_path;
    obrin::UniqueFileHandle m_hold;
};

// The folder of the CScriptFolder that lives now, with a trailing backslash;
// empty when none does.
[[nodiscard]] const std::wstring& ActiveScriptFolder() noexcept;
