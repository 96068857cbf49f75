// Service Control Manager wrapper for the system's one service. The service
// program uses it for its own options, the installer to replace and start the
// service. Every method logs its own failures and returns a plain result.
#pragma once

#include "common/ownership.h"

#include <windows.h>

// The one name shared by the service program, this wrapper and the installer.
inline constexpr wchar_t OBRIN_SERVICE_NAME[] = L"OBRINSERVICE";
inline constexpr wchar_t OBRIN_SERVICE_DISPLAY_NAME[] = L"Vantrel Dual OS WMI Service";

class CWinService {
public:
    static constexpr DWORD DEFAULT_WAIT_LIMIT_MS = 5000;
    static constexpr DWORD POLL_INTERVAL_MS = 1000;
    static constexpr DWORD PAUSE_AFTER_DELETE_MS = 1000;
    // A service that the manager has started but that has not reported yet
    // shows START_PENDING without a hint (at boot, or right after a restart);
    // it gets the time Windows gives a service to connect to its manager.
    static constexpr DWORD UNREPORTED_START_LIMIT_MS = 30000;

    CWinService() noexcept = default;
    CWinService(const CWinService&) = delete;
    CWinService& operator=(const CWinService&) = delete;

    // Opens the manager (kept in the instance for the caller, which closes it
    // with the returned service handle before it returns) and the service.
    // A missing service is not logged.
    [[nodiscard]] obrin::UniqueServiceHandle OpenWinService(DWORD access) noexcept;

    // Polls while the service is in pendingState, within the wait hint of
    // status (5000 ms without one) as refreshed by every successful query.
    // Copies the last status read into status; returns its state, 0 if none.
    [[nodiscard]] DWORD WaitForState(SC_HANDLE service, DWORD pendingState, SERVICE_STATUS* status) noexcept;

    // Registers the service as an automatic LocalSystem service. An existing
    // service counts as created. A path holding a blank is registered in
    // quotes, so "C:\Program Files\..." cannot be taken for "C:\Program.exe".
    [[nodiscard]] bool Create(const wchar_t* programPath) noexcept;
    // Marks the service for deletion, then pauses so the entry can go.
    [[nodiscard]] bool Delete() noexcept;
    // status may be null; it receives the last status read.
    [[nodiscard]] bool Start(SERVICE_STATUS* status) noexcept;
    [[nodiscard]] bool Stop(SERVICE_STATUS* status) noexcept;
    // Sends a control code (the service's user-defined ones in practice).
    [[nodiscard]] bool Control(DWORD code) noexcept;
    // The service's current state, 0 when it cannot be queried (or is missing).
    [[nodiscard]] DWORD QueryState() noexcept;

    // The thread's last error recorded after the latest Service Control Manager call.
    [[nodiscard]] DWORD LastError() const noexcept { return m_lastError; }

private:
    void RecordLastError() noexcept { m_lastError = GetLastError(); }
    void CloseWinService(obrin::UniqueServiceHandle& service) noexcept;

    obrin::UniqueServiceHandle m_manager;
    DWORD m_lastError = 0;
};

// The process-wide instance, created on first use.
[[nodiscard]] CWinService& GetWinService() noexcept;

