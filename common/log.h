// The diagnostic log shared by all three programs: DUALOSLOG.log next to the
// running program plus the debugger output, one line per message.
#pragma once

#include <cwchar>

enum LogLevel : int {
    LOG_ERROR = 0,
    LOG_WARN = 1,
    LOG_INFO = 2,
    LOG_DEBUG = 3,
};

class CLogFile {
public:
    CLogFile() noexcept;
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // function: the caller's tag (e.g. "ServiceInit"); format: a wide printf
    // format in the Microsoft sense (%s is a wide string, %S a narrow one).
    void Print(int level, const char* function, int line, const wchar_t* format, ...) noexcept;
    void Write(const wchar_t* text) noexcept;

    // The full path of the log file; empty when nothing is logged.
    const wchar_t* Path() const noexcept { return m_path; }

private:
    static constexpr size_t kStemCapacity = 30;
    static constexpr size_t kPathCapacity = 260;

    int m_threshold = 0;
    wchar_t m_stem[kStemCapacity] = {};
    wchar_t m_path[kPathCapacity] = {};
};

CLogFile& GetLog() noexcept;
