// The installer's questions to Windows about its disks: WMI in root\cimv2
// and the disk I/O controls.
#pragma once

#include "common/ownership.h"

#include <windows.h>
#include <wbemidl.h>

#include <string>

class CDiskQueries {
public:
    // Called once COM is initialised on the thread: security, locator,
    // connection to root\cimv2 and its proxy blanket.
    [[nodiscard]] HRESULT Connect() noexcept;
    // WQL, forward-only, returning immediately.
    [[nodiscard]] HRESULT ExecQuery(const std::wstring& query, obrin::ComPtr<IEnumWbemClassObject>& result) noexcept;

private:
    obrin::ComPtr<IWbemServices> m_services;
};

// The next object of a query: S_OK with one, WBEM_S_FALSE at the end, or a failure.
[[nodiscard]] HRESULT NextObject(IEnumWbemClassObject& objects, obrin::ComPtr<IWbemClassObject>& object) noexcept;

// Opens path for READ_CONTROL (sharing read and write), issues the I/O
// control with no input into output, closes. FALSE with the last error on failure.
[[nodiscard]] BOOL DiskDeviceControl(const wchar_t* path, DWORD ioControlCode, void* output, DWORD outputSize) noexcept;
