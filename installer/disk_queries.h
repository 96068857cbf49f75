// The one seam between the installer and the machine's disks: its WMI
// queries (root\cimv2) and its three disk I/O controls. ObrinInstaller links
// the side that asks Windows; a build for tests links a side that answers
// from the stand-in disk. Everything above this seam is the same in both.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

// One object of a query result.
class IDiskQueryObject {
public:
    virtual ~IDiskQueryObject() = default;
    // As IWbemClassObject::Get: the caller owns and clears value.
    [[nodiscard]] virtual HRESULT Get(const wchar_t* property, VARIANT* value) noexcept = 0;
};

// The objects of one query, fetched one at a time.
class IDiskQueryResult {
public:
    virtual ~IDiskQueryResult() = default;
    // S_OK with an object, WBEM_S_FALSE (1) at the end, or a failure.
    [[nodiscard]] virtual HRESULT Next(std::unique_ptr<IDiskQueryObject>& object) noexcept = 0;
};

class IDiskQueries {
public:
    virtual ~IDiskQueries() = default;
    // Called once COM is initialised on the thread: security, locator,
    // connection to root\cimv2 and its proxy blanket.
    [[nodiscard]] virtual HRESULT Connect() noexcept = 0;
    // WQL, forward-only, returning immediately.
    [[nodiscard]] virtual HRESULT ExecQuery(const std::wstring& query, std::unique_ptr<IDiskQueryResult>& result) noexcept = 0;
    // Opens path for READ_CONTROL (sharing read and write), issues the I/O
    // control with no input into output, closes. FALSE with the last error on failure.
    [[nodiscard]] virtual BOOL DeviceControl(const wchar_t* path, DWORD ioControlCode, void* output,
                                             DWORD outputSize) noexcept = 0;
};

// Defined by the side the program links.
[[nodiscard]] std::unique_ptr<IDiskQueries> CreateDiskQueries() noexcept;
