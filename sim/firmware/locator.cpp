// The stand-in's WMI locator and the DLL's exports. The locator serves
// root\wmi itself and hands every other namespace to Wine's own locator
// (wbemprox), wrapping root\cimv2 so that its power events can be delivered
// and its disk classes answer from the disk stand-in.
#include <windows.h>
#include <wbemcli.h>

#include <string>

#include "common/case_fold.h"
#include "sim/disk/disk_files.h"
#include "sim/firmware/com_class.h"
#include "sim/firmware/firmware_model.h"
#include "sim/firmware/services.h"
#include "sim/firmware/unsecured_apartment.h"
#include "sim/wql/wql.h"

namespace firmsim {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

GetClassObjectFunction g_wineGetClassObject = nullptr;

BOOL CALLBACK LoadWineLocator(INIT_ONCE*, void*, void**)
{
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 20 >= MAX_PATH)
        return TRUE;
    lstrcatW(path, L"\\wbem\\wbemprox.dll");
    if (HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
        g_wineGetClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    return TRUE;
}

// Wine's own locator class object, from wbemprox.dll; the module stays loaded
// for the life of the process because its objects do.
HRESULT WineLocatorFactory(obrin::ComPtr<IClassFactory>& factory) noexcept
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, LoadWineLocator, nullptr, nullptr);
    if (!g_wineGetClassObject)
        return REGDB_E_CLASSNOTREG;
    return g_wineGetClassObject(CLSID_WbemLocator, IID_IClassFactory, factory.put_void());
}

class Locator final : public ComClass<Locator, IWbemLocator> {
public:
    // Event clients create the unsecured apartment after the locator.
    Locator() { EnsureUnsecuredApartment(); }

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG securityFlags, const BSTR authority,
                                            IWbemContext* context, IWbemServices** services) override
    {
        if (!resource || !services)
            return WBEM_E_INVALID_PARAMETER;
        std::string nameSpace;
        try {
            nameSpace = obrin::wql::LocalNamespace(obrin::disksim::Narrow(resource),
                                                   obrin::disksim::Narrow(ComputerName()));
        } catch (...) {
            return WBEM_E_OUT_OF_MEMORY;
        }
        if (obrin::EqualsNoCase(nameSpace, "root\\wmi"))
            return CreateFirmwareServices(services);

        obrin::ComPtr<IClassFactory> factory;
        HRESULT hr = WineLocatorFactory(factory);
        if (FAILED(hr))
            return hr;
        obrin::ComPtr<IWbemLocator> wine;
        hr = factory->CreateInstance(nullptr, IID_IWbemLocator, wine.put_void());
        if (FAILED(hr))
            return hr;
        obrin::ComPtr<IWbemServices> wineServices;
        hr = wine->ConnectServer(resource, user, password, locale, securityFlags, authority, context,
                                 wineServices.put());
        if (FAILED(hr))
            return hr;
        if (obrin::EqualsNoCase(nameSpace, "root\\cimv2"))
            return CreateCimServices(std::move(wineServices), services);
        *services = wineServices.detach();
        return S_OK;
    }
};

}  // namespace
}  // namespace firmsim

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_WbemLocator)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = firmsim::ClassFactory<firmsim::Locator>::Make();
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(iid, object);
}

// Delivery threads and the apartment registration live as long as the process.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE;
}
