// Move-only owners for Win32 handles, COM pointers, BSTRs and VARIANTs, and
// the reference counting of COM objects of our own.
// Closing never disturbs the thread's last error, so a failure can still be
// logged after cleanup. put() releases what is held before handing out the
// address that receives a new value.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace obrin {

// Keeps the thread's last error across a cleanup call.
class PreserveLastError {
public:
    PreserveLastError() noexcept : m_error(GetLastError()) {}
    ~PreserveLastError() { SetLastError(m_error); }
    PreserveLastError(const PreserveLastError&) = delete;
    PreserveLastError& operator=(const PreserveLastError&) = delete;

private:
    DWORD m_error;
};

// Generic owner: Traits gives the type, the invalid value and the close call.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : m_value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    [[nodiscard]] Type get() const noexcept { return m_value; }
    [[nodiscard]] bool valid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    void reset(Type value = Traits::Invalid()) noexcept
    {
        if (valid()) {
            PreserveLastError keep;
            Traits::Close(m_value);
        }
        m_value = value;
    }
    [[nodiscard]] Type release() noexcept { return std::exchange(m_value, Traits::Invalid()); }
    [[nodiscard]] Type* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Invalid();
};

struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};
struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseServiceHandle(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { RegCloseKey(h); }
};
struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type s) noexcept { SysFreeString(s); }
};
struct LocalMemTraits {
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type m) noexcept { LocalFree(m); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type m) noexcept { FreeLibrary(m); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { FindClose(h); }
};

template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type o) noexcept { DeleteObject(o); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type dc) noexcept { DeleteDC(dc); }
};

using UniqueHandle = UniqueResource<HandleTraits>;          // events, threads, processes, tokens
using UniqueFileHandle = UniqueResource<FileHandleTraits>;  // files, pipes, devices
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;
using UniqueLocalMem = UniqueResource<LocalMemTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;  // FindFirstFileW searches
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;  // CreateCompatibleDC, not GetDC

// Owner of one COM interface reference.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller already holds.
    static ComPtr Attach(T* p) noexcept
    {
        ComPtr c;
        c.m_p = p;
        return c;
    }
    // Adds a reference of its own.
    static ComPtr Copy(T* p) noexcept
    {
        if (p)
            p->AddRef();
        return Attach(p);
    }
    ~ComPtr() { reset(); }

    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr& other) noexcept : m_p(other.m_p)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr& operator=(const ComPtr& other) noexcept
    {
        if (this != &other)
            *this = Copy(other.m_p);
        return *this;
    }

    [[nodiscard]] T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    void reset() noexcept
    {
        if (T* p = std::exchange(m_p, nullptr)) {
            PreserveLastError keep;
            p->Release();
        }
    }
    [[nodiscard]] T* detach() noexcept { return std::exchange(m_p, nullptr); }
    [[nodiscard]] T** put() noexcept
    {
        reset();
        return &m_p;
    }
    [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    template <typename U>
    [[nodiscard]] HRESULT As(ComPtr<U>& out) const noexcept
    {
        if (!m_p)
            return E_POINTER;
        return m_p->QueryInterface(__uuidof(U), out.put_void());
    }

private:
    T* m_p = nullptr;
};

// The IUnknown of a COM object of our own that implements Interface: a
// reference count that starts at 0 (whoever creates the object takes the
// first reference with an owner, ComPtr<...>::Copy), QueryInterface for
// IUnknown and Interface, and deletion through the virtual destructor at the
// last Release.
template <typename Interface>
class ComObject : public Interface {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override
    {
        if (!object)
            return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(Interface))) {
            // COM callers may release whatever a failed QueryInterface left behind.
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        const LONG count = InterlockedDecrement(&m_refCount);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }
    virtual ~ComObject() = default;

protected:
    ComObject() noexcept = default;

private:
    volatile LONG m_refCount = 0;
};

// Owner of one VARIANT: cleared on destruction and before reuse.
class UniqueVariant {
public:
    UniqueVariant() noexcept { VariantInit(&m_v); }
    ~UniqueVariant() { reset(); }
    UniqueVariant(UniqueVariant&& other) noexcept : m_v(other.m_v) { VariantInit(&other.m_v); }
    UniqueVariant& operator=(UniqueVariant&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_v = other.m_v;
            VariantInit(&other.m_v);
        }
        return *this;
    }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    void reset() noexcept
    {
        PreserveLastError keep;
        VariantClear(&m_v);
    }
    [[nodiscard]] VARIANT* put() noexcept
    {
        reset();
        return &m_v;
    }
    [[nodiscard]] VARIANT* get() noexcept { return &m_v; }
    [[nodiscard]] const VARIANT* get() const noexcept { return &m_v; }
    VARIANT* operator->() noexcept { return &m_v; }
    const VARIANT* operator->() const noexcept { return &m_v; }

private:
    VARIANT m_v;
};

// One CoInitializeEx paired with its CoUninitialize (only when it succeeded,
// including S_FALSE, which also takes a reference on the apartment).
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_MULTITHREADED) noexcept : m_hr(CoInitializeEx(nullptr, model)) {}
    ~ComInit()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;

    [[nodiscard]] HRESULT result() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

}  // namespace obrin
