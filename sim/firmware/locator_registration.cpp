#include "sim/firmware/locator_registration.h"

#include "common/ownership.h"
#include "common/case_fold.h"

namespace firmsim {

using obrin::EqualsNoCase;

namespace {

constexpr wchar_t kLocatorServerKey[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
constexpr wchar_t kMemoryKey[] = L"Software\\Vantrel\\ObrinFirmsim";
constexpr wchar_t kOriginalServerValue[] = L"OriginalLocatorServer";

struct RegistryText {
    std::wstring text;
    DWORD type = REG_SZ;
};

LSTATUS ReadText(HKEY key, const wchar_t* name, RegistryText& value) noexcept
{
    try {
        DWORD bytes = 0;
        LSTATUS status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &bytes);
        while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
            if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
                return ERROR_INVALID_DATATYPE;
            value.text.assign(bytes / sizeof(wchar_t) + 1, L'\0');
            bytes = static_cast<DWORD>(value.text.size() * sizeof(wchar_t));
            status = RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.text.data()),
                                      &bytes);
            if (status == ERROR_SUCCESS) {
                value.text.resize(bytes / sizeof(wchar_t));
                while (!value.text.empty() && value.text.back() == L'\0')
                    value.text.pop_back();
                return ERROR_SUCCESS;
            }
        }
        return status;
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

LSTATUS WriteText(HKEY key, const wchar_t* name, const RegistryText& value) noexcept
{
    return RegSetValueExW(key, name, 0, value.type, reinterpret_cast<const BYTE*>(value.text.c_str()),
                          static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

HRESULT InstallLocator(const std::wstring& dllPath) noexcept
{
    obrin::UniqueRegKey locator;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLocatorServerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                   locator.put());
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    RegistryText current;
    status = ReadText(locator.get(), nullptr, current);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    if (EqualsNoCase(current.text, dllPath))
        return S_OK;

    obrin::UniqueRegKey memory;
    status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMemoryKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                             memory.put(), nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    // The original is kept first, so a failure below leaves a way back.
    status = WriteText(memory.get(), kOriginalServerValue, current);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    try {
        status = WriteText(locator.get(), nullptr, RegistryText{dllPath, REG_SZ});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT UninstallLocator() noexcept
{
    obrin::UniqueRegKey memory;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMemoryKey, 0, KEY_QUERY_VALUE, memory.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    RegistryText original;
    status = ReadText(memory.get(), kOriginalServerValue, original);
    if (status == ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);

    obrin::UniqueRegKey locator;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLocatorServerKey, 0, KEY_SET_VALUE, locator.put());
    if (status == ERROR_SUCCESS)
        status = WriteText(locator.get(), nullptr, original);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    memory.reset();
    status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMemoryKey);
    return HRESULT_FROM_WIN32(status);
}

}  // namespace firmsim
