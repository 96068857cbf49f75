// The production side of the disk seam: WMI through COM and DeviceIoControl.
#include "installer/disk_queries.h"

#include "common/ownership.h"

#include <wbemidl.h>

using obrin::ComPtr;
using obrin::UniqueBstr;
using obrin::UniqueFileHandle;

namespace {

constexpr CLSID kWbemLocatorClsid = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
constexpr IID kWbemLocatorIid = {0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

class CWmiDiskObject final : public IDiskQueryObject {
public:
    explicit CWmiDiskObject(ComPtr<IWbemClassObject> object) noexcept : m_object(std::move(object)) {}
    HRESULT Get(const wchar_t* property, VARIANT* value) noexcept override
    {
        return m_object->Get(property, 0, value, nullptr, nullptr);
    }

private:
    ComPtr<IWbemClassObject> m_object;
};

class CWmiDiskResult final : public IDiskQueryResult {
public:
    explicit CWmiDiskResult(ComPtr<IEnumWbemClassObject> enumerator) noexcept : m_enumerator(std::move(enumerator)) {}
    HRESULT Next(std::unique_ptr<IDiskQueryObject>& object) noexcept override
    {
        ComPtr<IWbemClassObject> next;
        ULONG returned = 0;
        const HRESULT hr = m_enumerator->Next(WBEM_INFINITE, 1, next.put(), &returned);
        if (FAILED(hr))
            return hr;
        if (returned == 0)
            return WBEM_S_FALSE;
        object = std::make_unique<CWmiDiskObject>(std::move(next));
        return S_OK;
    }

private:
    ComPtr<IEnumWbemClassObject> m_enumerator;
};

class CWmiDiskQueries final : public IDiskQueries {
public:
    HRESULT Connect() noexcept override
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

    HRESULT ExecQuery(const std::wstring& query, std::unique_ptr<IDiskQueryResult>& result) noexcept override
    {
        if (!m_services)
            return WBEM_E_FAILED;
        UniqueBstr language(SysAllocString(L"WQL"));
        UniqueBstr text(SysAllocString(query.c_str()));
        if (!language || !text)
            return E_OUTOFMEMORY;
        ComPtr<IEnumWbemClassObject> enumerator;
        const HRESULT hr = m_services->ExecQuery(language.get(), text.get(),
                                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                                 enumerator.put());
        if (FAILED(hr))
            return hr;
        result = std::make_unique<CWmiDiskResult>(std::move(enumerator));
        return S_OK;
    }

    BOOL DeviceControl(const wchar_t* path, DWORD ioControlCode, void* output, DWORD outputSize) noexcept override
    {
        UniqueFileHandle device(CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (!device)
            return FALSE;
        DWORD returned = 0;
        return DeviceIoControl(device.get(), ioControlCode, nullptr, 0, output, outputSize, &returned, nullptr);
    }

private:
    ComPtr<IWbemServices> m_services;
};

}  // namespace

std::unique_ptr<IDiskQueries> CreateDiskQueries() noexcept
{
    return std::make_unique<CWmiDiskQueries>();
}
