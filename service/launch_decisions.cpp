#include "service/launch_decisions.h"

namespace {

constexpr int WTS_ACTIVE = 0;

}  // namespace

std::optional<std::uint32_t> FirstActiveSession(const SessionEntry* sessions, std::size_t count) noexcept
{
    if (!sessions)
        return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        if (sessions[i].state == WTS_ACTIVE)
            return sessions[i].id;
    }
    return std::nullopt;
}

std::wstring DirectoryOf(const std::wstring& programPath)
{
    const std::size_t lastBackslash = programPath.find_last_of(L'\\');
    if (lastBackslash == std::wstring::npos)
        return {};
    return programPath.substr(0, lastBackslash + 1);
}

std::wstring SwitcherCommandLine(const std::wstring& directory, const wchar_t* action, bool withoutUserToken)
{
    std::wstring commandLine = L"\"" + directory + SWITCHER_PROGRAM + L"\" -" + (action ? action : L"");
    if (withoutUserToken)
        commandLine += L" -nomsg";
    return commandLine;
}
