// The two ways the installer changes the machine: a diskpart script or a
// batch file written to the script folder (script_folder.h), run hidden,
// waited for, deleted. Without a script folder nothing is run.
#pragma once

#include <windows.h>

// Texts are stored in the ANSI code page without terminator; longer texts
// than this are refused rather than written cut off.
inline constexpr size_t kMaxScriptCharacters = 2047;

// True when diskpart was started, whatever its exit code. exitCode, when
// given, receives diskpart's exit code, or the Windows error when the file
// could not be created; it keeps its value when diskpart did not start.
[[nodiscard]] bool RunDiskpartScript(const wchar_t* text, const wchar_t* fileName, DWORD* exitCode) noexcept;

// True when cmd was started; the batch's own outcome is not reported.
[[nodiscard]] bool RunBatchFile(const wchar_t* fileName, const wchar_t* text) noexcept;
