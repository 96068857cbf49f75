#include "service/service_commands.h"

#include "common/log.h"
#include "common/winservice.h"
#include "service/service_host.h"
#include "service/service_options.h"

#include <windows.h>

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;

bool InstallService() noexcept
{
    wchar_t programPath[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, programPath, MAX_PATH);
    // A cut path would register some other program as the service.
    if (length == 0 || length >= MAX_PATH) {
        GetLog().Print(LOG_ERROR, "wmain", __LINE__, L"Failed to call GetModuleFileName [Err=%u].\n",
                       length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        return false;
    }
    CWinService& service = GetWinService();
    if (service.Create(programPath) && service.Start(&ServiceStatusRecord()))
        return true;
    static_cast<void>(service.Delete());
    return false;
}

bool UninstallService() noexcept
{
    CWinService& service = GetWinService();
    return service.Stop(&ServiceStatusRecord()) && service.Delete();
}

}  // namespace

int RunServiceProgram(int argc, const wchar_t* const* argv) noexcept
{
    const ServiceOptions options = ParseServiceOptions(argc, argv);
    switch (options.command) {
    case ServiceCommand::RunService:
        return RunServiceDispatcher() ? EXIT_OK : EXIT_FAILED;
    case ServiceCommand::Install:
        return InstallService() ? EXIT_OK : EXIT_FAILED;
    case ServiceCommand::Uninstall:
        return UninstallService() ? EXIT_OK : EXIT_FAILED;
    case ServiceCommand::ShowMsg:
        return GetWinService().Control(ShowMsgControlCode(options.showMsgValue)) ? EXIT_OK : EXIT_FAILED;
    case ServiceCommand::ShowMsgWithoutValue:
        GetLog().Print(LOG_ERROR, "wmain", __LINE__, L"Failed to parse parameter [%s].\n", argv[1]);
        return EXIT_FAILED;
    case ServiceCommand::Unknown:
        break;
    }
    return EXIT_FAILED;
}
