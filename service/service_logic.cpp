#include "service/service_logic.h"

namespace {

constexpr std::uint32_t FLAG_READY = 0x40000000;
constexpr std::uint32_t FLAG_ENABLED = 0x00000001;
constexpr std::uint32_t FLAG_PIN = 0x00000020;

constexpr int WTS_ACTIVE = 0;

}  // namespace

FirmwareEventReaction ReactionToFirmwareEvent(std::uint32_t eventCode) noexcept
{
    switch (eventCode) {
    case 0xD1:
    case 0xD7:
        return {FirmwareEventAction::LaunchSwitcher, L"config"};
    case 0xD2: return {FirmwareEventAction::LaunchSwitcher, L"reboot"};
    case 0xD3: return {FirmwareEventAction::LaunchSwitcher, L"s3"};
    case 0xD4: return {FirmwareEventAction::LaunchSwitcher, L"s4"};
    case 0xD5: return {FirmwareEventAction::LaunchSwitcher, L"shutdown"};
    case 0xD6: return {FirmwareEventAction::LaunchSwitcher, L"hybrid"};
    case 0xE1: return {FirmwareEventAction::BootTypeError, nullptr};
    default: return {};
    }
}

bool IsResumeEvent(std::uint16_t eventType) noexcept
{
    return eventType == 7 || eventType == 18;
}

bool IsTalvexPlatform(const wchar_t* codeName, std::size_t capacity) noexcept
{
    if (!codeName)
        return false;
    const std::size_t length = sizeof(TALVEX_CODE_NAME) / sizeof(wchar_t);  // with the terminator
    if (capacity < length - 1)
        return false;
    for (std::size_t i = 0; i < length - 1; ++i) {
        if (codeName[i] != TALVEX_CODE_NAME[i])
            return false;
    }
    return capacity == length - 1 || codeName[length - 1] == L'\0';
}

bool FirstCapabilityTestPasses(std::uint32_t flags) noexcept
{
    constexpr std::uint32_t required = FLAG_READY | FLAG_ENABLED;
    return (flags & required) == required;
}

bool SecondCapabilityTestPasses(std::uint32_t flags) noexcept
{
    constexpr std::uint32_t required = FLAG_READY | FLAG_ENABLED | FLAG_PIN;
    return (flags & required) == required;
}

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
