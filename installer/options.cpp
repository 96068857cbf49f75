#include "installer/options.h"

#include "common/case_fold.h"

#include <cwchar>

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

}  // namespace

void ParseInstallerArguments(std::vector<std::wstring>& arguments, InstallerOptions& options) noexcept
{
    for (std::wstring& argument : arguments) {
        bool isMode = false;
        for (const ModeOption& option : kModeOptions) {
            if (obrin::EqualsNoCase(argument, option.text)) {
                options.mode = option.mode;
                isMode = true;
                break;
            }
        }
        if (isMode)
            continue;

        for (wchar_t& c : argument)
            c = obrin::FoldCase(c);
        if (argument.find(L"-win:0x") == std::wstring::npos)
            continue;
        void* window = nullptr;
        if (std::swscanf(argument.c_str(), L"-win:0x%p", &window) == 1)
            options.callerWindow = reinterpret_cast<uintptr_t>(window);
    }
}
