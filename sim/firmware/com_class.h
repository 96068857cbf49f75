// Reference counting and QueryInterface for the stand-in's COM objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>
#include <utility>

#include "common/ownership.h"

namespace firmsim {

// Derived implements Interfaces...; IUnknown answers with the first one.
template <typename Derived, typename First, typename... Rest>
class ComClass : public First, public Rest... {
public:
    // A new object holding the caller's one reference; empty when out of memory.
    template <typename... Args>
    [[nodiscard]] static obrin::ComPtr<Derived> Make(Args&&... args) noexcept
    {
        try {
            Derived* object = new Derived(std::forward<Args>(args)...);
            object->m_refs = 1;
            return obrin::ComPtr<Derived>::Attach(object);
        } catch (...) {
            return nullptr;
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(First)) {
            *out = static_cast<First*>(this);
        } else if (!((iid == __uuidof(Rest) ? (*out = static_cast<Rest*>(this), true) : false) || ...)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete static_cast<Derived*>(this);
        return static_cast<ULONG>(refs);
    }

protected:
    ComClass() = default;
    ~ComClass() = default;

private:
    LONG m_refs = 0;
};

// The class object of Made: every instance it creates is a new Made.
template <typename Made>
class ClassFactory final : public ComClass<ClassFactory<Made>, IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto made = Made::Make();
        if (!made)
            return E_OUTOFMEMORY;
        return made->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Hands one new reference of `object` to a COM out-parameter.
template <typename Interface, typename T>
void CopyOut(const obrin::ComPtr<T>& object, Interface** out) noexcept
{
    *out = object.get();
    if (*out)
        (*out)->AddRef();
}

}  // namespace firmsim
