// The service program's command line, as plain text logic: only the first
// argument chooses what the program does.
#pragma once

enum class ServiceCommand {
    RunService,           // no argument: started by the Service Control Manager
    Install,              // "-install"
    Uninstall,            // "-uninstall"
    ShowMsg,              // "-showmsg" N
    ShowMsgWithoutValue,  // "-showmsg" alone
    Unknown,              // any other first argument
};

struct ServiceOptions {
    ServiceCommand command = ServiceCommand::Unknown;
    int showMsgValue = 0;  // the N of "-showmsg" N
};

// argv[0] is the program; option words are compared without regard to case.
[[nodiscard]] ServiceOptions ParseServiceOptions(int argc, const wchar_t* const* argv) noexcept;

// Reads a decimal integer the C way: leading blanks and one sign allowed,
// reading stops at the first non-digit, no digits read as 0. Values beyond
// the int range saturate.
[[nodiscard]] int ReadDecimal(const wchar_t* text) noexcept;

// The user-defined control that asks the service to store ShowMsg = N:
// 128 + N for N = 0, 1, 2 and 130 for any other value.
[[nodiscard]] unsigned ShowMsgControlCode(int value) noexcept;
