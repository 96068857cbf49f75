#include "installer/disk_queries.h"

using obrin::ComPtr;
using obrin::UniqueBstr;
using obrin::UniqueFileHandle;

namespace {

constexpr CLSID kWbemLocatorClsid = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
constexpr IID kWbemLocatorIid = {0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

}  // namespace

HRESULT CDiskQueries::Connect() noexcept
{
    HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE)
        return hr;

    ComPtr<IWbemLocator> locator;
    hr = CoCreateInstance(kWbemLocatorClsid, nullptr, CLSCTX_INPROC_SERVER, kWbemLocatorIid, locator.put_void());
    if (FAILED(hr))
        return hr;
    UniqueBstr space(SysAllocString(L"root\\cimv2"));
    if (!space)
        return E_OUTOFMEMORY;
    hr = locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, m_services.put());
    if (FAILED(hr))
        return hr;
    return CoSetProxyBlanket(m_services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

HRESULT CDiskQueries::ExecQuery(const std::wstring& query, ComPtr<IEnumWbemClassObject>& result) noexcept
{
    if (!m_services)
        return WBEM_E_FAILED;
    UniqueBstr language(SysAllocString(L"WQL"));
    UniqueBstr text(SysAllocString(query.c_str()));
    if (!language || !text)
        return E_OUTOFMEMORY;
    return m_services->ExecQuery(language.get(), text.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, result.put());
}

HRESULT NextObject(IEnumWbemClassObject& objects, ComPtr<IWbemClassObject>& object) noexcept
{
    ULONG returned = 0;
    const HRESULT hr = objects.Next(WBEM_INFINITE, 1, object.put(), &returned);
    if (FAILED(hr))
        return hr;
    return returned == 0 ? static_cast<HRESULT>(WBEM_S_FALSE) : S_OK;
}

BOOL DiskDeviceControl(const wchar_t* path, DWORD ioControlCode, void* output, DWORD outputSize) noexcept
{
    UniqueFileHandle device(
        CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device)
        return FALSE;
    DWORD returned = 0;
    return DeviceIoControl(device.get(), ioControlCode, nullptr, 0, output, outputSize, &returned, nullptr);
}
