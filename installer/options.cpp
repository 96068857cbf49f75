#include "installer/options.h"

#include <cwchar>
#include <cwctype>

namespace {

struct ModeOption {
    const wchar_t* text;
    InstallerMode mode;
};

constexpr ModeOption kModeOptions[] = {
    {L"-install-dualos", InstallerMode::Install},     {L"-uninstall-dualos", InstallerMode::Uninstall},
    {L"-startservice", InstallerMode::ServiceStart},  {L"-removeservice", InstallerMode::ServiceRemove},
    {L"-check-dualos", InstallerMode::Check},
};

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b) noexcept
{
    size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return i == a.size() && b[i] == L'\0';
}

}  // namespace

void ParseInstallerArguments(std::vector<std::wstring>& arguments, InstallerOptions& options) noexcept
{
    for (std::wstring& argument : arguments) {
        bool isMode = false;
        for (const ModeOption& option : kModeOptions) {
            if (EqualsIgnoringCase(argument, option.text)) {
                options.mode = option.mode;
                isMode = true;
                break;
            }
        }
        if (isMode)
            continue;

        for (wchar_t& c : argument)
            c = static_cast<wchar_t>(std::towlower(c));
        if (argument.find(L"-win:0x") == std::wstring::npos)
            continue;
        void* window = nullptr;
        if (std::swscanf(argument.c_str(), L"-win:0x%p", &window) == 1)
            options.callerWindow = reinterpret_cast<uintptr_t>(window);
    }
}
