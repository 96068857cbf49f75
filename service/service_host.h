// The service's plumbing: dispatcher, service main function, control handler
// and the one function that reports status. The work itself (ServiceInit,
// ServiceUninit) lives in service_init.
#pragma once

#include <windows.h>

// The Service Control Manager entry points the service main function and the
// control handler use.
struct ServiceControlApi {
    SERVICE_STATUS_HANDLE(WINAPI* registerHandler)(LPCWSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID context);
    BOOL(WINAPI* setStatus)(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);
};

// What the service does between START_PENDING and STOPPED.
struct ServiceWork {
    bool (*init)() noexcept;                 // true when the service may run
    void (*uninit)(HANDLE stopEvent) noexcept;  // the stop sequence; signals stopEvent last
};

[[nodiscard]] ServiceControlApi SystemServiceControlApi() noexcept;

// Enters the service dispatcher with the one service OBRINSERVICE. Returns
// false (logged) when the dispatcher cannot start, e.g. from a console.
[[nodiscard]] bool RunServiceDispatcher() noexcept;

// The service main function the dispatcher calls (system entry points, the
// service's real work).
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);

// The service main function's body over the given entry points and work:
// register the handler, create the stop event, START_PENDING, init, then
// RUNNING and wait for the stop event, or run the stop sequence when init
// fails; close the event; STOPPED.
void RunServiceMain(const ServiceControlApi& api, const ServiceWork& work) noexcept;

// The control handler: stop, and the user-defined controls 128 to 130 that
// store ShowMsg = control - 128.
DWORD WINAPI HandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

// The process-wide status record; an option run passes it (all zero) to the
// service controller.
[[nodiscard]] SERVICE_STATUS& ServiceStatusRecord() noexcept;
