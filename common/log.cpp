#include "common/log.h"

#include "common/ownership.h"

#include <windows.h>

#include <share.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// The running program's own build date and time: common/build_stamp.c,
// compiled again right before each program is linked.
extern "C" const char g_ObrinBuildDate[];
extern "C" const char g_ObrinBuildTime[];

namespace {

constexpr const char* kLevelNames[] = {"ERROR", "WARN", "INFO", "DEBUG"};

const char* LevelName(int level) noexcept
{
    return (level >= 0 && level < 4) ? kLevelNames[level] : "";
}

}  // namespace

CLogFile::CLogFile() noexcept
{
    // Call sites pass GetLastError() as an argument, evaluated after GetLog():
    // setting up the log on that first call must not change it.
    obrin::PreserveLastError keep;
    wcsncpy(m_stem, L"DUALOSLOG", kStemCapacity - 1);

    wchar_t program[kPathCapacity] = {};
    const DWORD length = GetModuleFileNameW(nullptr, program, kPathCapacity);
    if (length == 0 || length >= kPathCapacity)
        return;
    // Without a directory part there is no safe place for the log: a name
    // built from the program path could only be the program file itself.
    wchar_t* lastSlash = wcsrchr(program, L'\\');
    if (!lastSlash)
        return;
    lastSlash[1] = L'\0';
    const size_t needed = wcslen(program) + wcslen(m_stem) + wcslen(L".log");
    if (needed >= kPathCapacity)
        return;
    wcscpy(m_path, program);
    wcscat(m_path, m_stem);
    wcscat(m_path, L".log");
}

void CLogFile::Print(int level, const char* function, int line, const wchar_t* format, ...) noexcept
{
    // Callers may still read the last error after logging a failure.
    obrin::PreserveLastError keep;
    if (level < m_threshold)
        return;

    static constexpr wchar_t kPrefix[] = L"[%S %S] [%S][%S():%d] ";
    const char* levelName = LevelName(level);
    const int prefixLength = _scwprintf(kPrefix, g_ObrinBuildDate, g_ObrinBuildTime, levelName, function, line);

    va_list args;
    va_start(args, format);
    const int messageLength = _vscwprintf(format, args);
    va_end(args);
    if (prefixLength < 0 || messageLength < 0)
        return;

    const size_t total = static_cast<size_t>(prefixLength) + static_cast<size_t>(messageLength) + 1;
    auto* buffer = static_cast<wchar_t*>(malloc(total * sizeof(wchar_t)));
    if (!buffer)
        return;
    _snwprintf(buffer, total, kPrefix, g_ObrinBuildDate, g_ObrinBuildTime, levelName, function, line);
    va_start(args, format);
    _vsnwprintf(buffer + prefixLength, total - prefixLength, format, args);
    va_end(args);
    buffer[total - 1] = L'\0';

    Write(buffer);
    free(buffer);
}

void CLogFile::Write(const wchar_t* text) noexcept
{
    if (m_path[0] == L'\0')
        return;
    // Opened per message without sharing: a writer that overlaps loses only
    // its own message to the file; the debugger still gets it.
    if (FILE* file = _wfsopen(m_path, L"at", _SH_DENYRW)) {
        fputws(text, file);
        fclose(file);
    }
    OutputDebugStringW(text);
}

CLogFile& GetLog() noexcept
{
    // The guard of the first call may set up the thread library, which
    // changes the last error that the call site reads after this returns.
    obrin::PreserveLastError keep;
    static CLogFile log;
    return log;
}
