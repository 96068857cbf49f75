#include "sim/firmware/state_store.h"

#include "common/ownership.h"

namespace firmsim {
namespace {

// One lock for every process of the prefix, services included.
constexpr wchar_t kMutexName[] = L"Global\\ObrinFirmsimState";
constexpr DWORD kLockTimeoutMs = 10000;
constexpr DWORD kMaxStateBytes = 4 * 1024 * 1024;
constexpr wchar_t kStateExtension[] = L".state";

class StateLock {
public:
    // mutex: the store's handle of the named mutex (null: creating it failed
    // with createError).
    StateLock(HANDLE mutex, DWORD createError) noexcept : m_mutex(mutex)
    {
        if (!m_mutex) {
            m_result = HRESULT_FROM_WIN32(createError);
            return;
        }
        // An abandoned lock still guards whole files: writers replace the
        // state in one move and append each call in one write.
        const DWORD wait = WaitForSingleObject(m_mutex, kLockTimeoutMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            m_held = true;
        else
            m_result = wait == WAIT_TIMEOUT ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : HRESULT_FROM_WIN32(GetLastError());
    }
    ~StateLock()
    {
        if (m_held)
            ReleaseMutex(m_mutex);
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    [[nodiscard]] HRESULT Result() const noexcept { return m_result; }

private:
    HANDLE m_mutex;
    bool m_held = false;
    HRESULT m_result = S_OK;
};

// The call record beside a state file: firmsim.state -> firmsim.calls.
std::wstring CallsPathFor(const std::wstring& statePath)
{
    const std::wstring extension = kStateExtension;
    if (statePath.size() > extension.size() &&
        statePath.compare(statePath.size() - extension.size(), extension.size(), extension) == 0)
        return statePath.substr(0, statePath.size() - extension.size()) + L".calls";
    return statePath + L".calls";
}

// The whole file as bytes; a missing file is the empty text.
HRESULT ReadWholeFile(const std::wstring& path, std::string& text) noexcept
{
    obrin::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(error);
        text.clear();
        return S_FALSE;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return HRESULT_FROM_WIN32(GetLastError());
    if (size.QuadPart > kMaxStateBytes)
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    try {
        text.assign(static_cast<size_t>(size.QuadPart), '\0');
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    DWORD read = 0;
    if (!text.empty() && !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
        return HRESULT_FROM_WIN32(GetLastError());
    text.resize(read);
    return S_OK;
}

HRESULT WriteWhole(HANDLE file, const std::string& text) noexcept
{
    DWORD written = 0;
    if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return HRESULT_FROM_WIN32(GetLastError());
    return written == text.size() ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

// Written aside and moved into place, so that a reader never sees half a file.
HRESULT ReplaceWholeFile(const std::wstring& path, const std::string& text) noexcept
{
    try {
        const std::wstring temporary = path + L".new";
        {
            obrin::UniqueFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file)
                return HRESULT_FROM_WIN32(GetLastError());
            const HRESULT hr = WriteWhole(file.get(), text);
            if (FAILED(hr))
                return hr;
        }
        if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
            return HRESULT_FROM_WIN32(GetLastError());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

std::wstring StateStore::PathBeside(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring(L"firmsim") + kStateExtension;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.erase(path.find_last_of(L'\\') + 1);
    return path + L"firmsim" + kStateExtension;
}

StateStore::StateStore(std::wstring path)
    : m_path(std::move(path)),
      m_callsPath(CallsPathFor(m_path)),
      m_mutex(CreateMutexW(nullptr, FALSE, kMutexName)),
      m_mutexError(m_mutex ? ERROR_SUCCESS : GetLastError())
{
}

HRESULT StateStore::Read(FirmwareState& state) const noexcept
{
    StateLock lock(m_mutex.get(), m_mutexError);
    if (FAILED(lock.Result()))
        return lock.Result();
    FirmwareState read;
    HRESULT hr = ReadSettingsUnlocked(read);
    if (SUCCEEDED(hr))
        hr = ReadCallsUnlocked(read);
    if (FAILED(hr))
        return hr;
    state = std::move(read);
    return S_OK;
}

HRESULT StateStore::ReadWithoutCalls(FirmwareState& state) const noexcept
{
    StateLock lock(m_mutex.get(), m_mutexError);
    if (FAILED(lock.Result()))
        return lock.Result();
    return ReadSettingsUnlocked(state);
}

HRESULT StateStore::RecordCall(FirmwareCall call, FirmwareState& state) const noexcept
{
    StateLock lock(m_mutex.get(), m_mutexError);
    if (FAILED(lock.Result()))
        return lock.Result();
    const HRESULT hr = ReadSettingsUnlocked(state);
    if (FAILED(hr) || !state.present)
        return hr;
    return AppendCallUnlocked(call);
}

HRESULT StateStore::Update(const std::function<void(FirmwareState&)>& change, bool repairDamaged) const noexcept
{
    StateLock lock(m_mutex.get(), m_mutexError);
    if (FAILED(lock.Result()))
        return lock.Result();
    constexpr HRESULT kDamaged = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    FirmwareState state;
    HRESULT hr = ReadSettingsUnlocked(state);
    if (hr == kDamaged && repairDamaged) {
        state = FirmwareState{};
        hr = S_OK;
    }
    if (FAILED(hr))
        return hr;
    try {
        hr = ReadCallsUnlocked(state);
        // A damaged record is written anew even when the change leaves it empty.
        const bool rewriteCalls = hr == kDamaged && repairDamaged;
        if (FAILED(hr) && !rewriteCalls)
            return hr;
        const std::vector<FirmwareCall> calls = state.calls;
        change(state);
        const std::vector<FirmwareCall> changedCalls = std::move(state.calls);
        state.calls.clear();
        hr = WriteSettingsUnlocked(state);
        if (SUCCEEDED(hr) && (rewriteCalls || changedCalls != calls))
            hr = WriteCallsUnlocked(changedCalls);
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT StateStore::ReadSettingsUnlocked(FirmwareState& state) const noexcept
{
    try {
        std::string text;
        const HRESULT hr = ReadWholeFile(m_path, text);
        if (FAILED(hr))
            return hr;
        if (hr == S_FALSE) {
            state = FirmwareState{};
            return S_OK;
        }
        auto parsed = ParseState(text);
        if (!parsed)
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        state = std::move(*parsed);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT StateStore::ReadCallsUnlocked(FirmwareState& state) const noexcept
{
    try {
        std::string text;
        const HRESULT hr = ReadWholeFile(m_callsPath, text);
        if (FAILED(hr))
            return hr;
        state.calls.clear();
        if (!ParseCalls(text, state))
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT StateStore::WriteSettingsUnlocked(const FirmwareState& state) const noexcept
{
    try {
        return ReplaceWholeFile(m_path, FormatState(state));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT StateStore::WriteCallsUnlocked(const std::vector<FirmwareCall>& calls) const noexcept
{
    try {
        std::string text;
        for (const FirmwareCall& call : calls)
            text += FormatCall(call);
        return ReplaceWholeFile(m_callsPath, text);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT StateStore::AppendCallUnlocked(FirmwareCall call) const noexcept
{
    try {
        const std::string line = FormatCall(call);
        LARGE_INTEGER size{};
        {
            obrin::UniqueFileHandle file(CreateFileW(m_callsPath.c_str(), FILE_APPEND_DATA,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file)
                return HRESULT_FROM_WIN32(GetLastError());
            const HRESULT hr = WriteWhole(file.get(), line);
            if (FAILED(hr))
                return hr;
            if (!GetFileSizeEx(file.get(), &size))
                return HRESULT_FROM_WIN32(GetLastError());
        }
        // Every line has the same length. Cutting the record back to the
        // calls kept only once it holds twice as many keeps the cost of a
        // call the same on average, whatever the record holds.
        if (static_cast<unsigned long long>(size.QuadPart) < 2 * kMaxRecordedCalls * line.size())
            return S_OK;
        FirmwareState kept;
        const HRESULT hr = ReadCallsUnlocked(kept);
        return FAILED(hr) ? hr : WriteCallsUnlocked(kept.calls);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace firmsim
