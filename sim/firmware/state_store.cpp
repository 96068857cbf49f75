#include "sim/firmware/state_store.h"

#include "common/ownership.h"

namespace firmsim {
namespace {

// One lock for every process of the prefix, services included.
constexpr wchar_t kMutexName[] = L"Global\\ObrinFirmsimState";
constexpr DWORD kLockTimeoutMs = 10000;
constexpr DWORD kMaxStateBytes = 4 * 1024 * 1024;

class StateLock {
public:
    StateLock() noexcept : m_mutex(CreateMutexW(nullptr, FALSE, kMutexName))
    {
        if (!m_mutex) {
            m_result = HRESULT_FROM_WIN32(GetLastError());
            return;
        }
        // An abandoned lock still guards a whole file: writers replace it in one move.
        const DWORD wait = WaitForSingleObject(m_mutex.get(), kLockTimeoutMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            m_held = true;
        else
            m_result = wait == WAIT_TIMEOUT ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : HRESULT_FROM_WIN32(GetLastError());
    }
    ~StateLock()
    {
        if (m_held)
            ReleaseMutex(m_mutex.get());
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    [[nodiscard]] HRESULT Result() const noexcept { return m_result; }

private:
    obrin::UniqueHandle m_mutex;
    bool m_held = false;
    HRESULT m_result = S_OK;
};

}  // namespace

std::wstring StateStore::PathBeside(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return L"firmsim.state";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.erase(path.find_last_of(L'\\') + 1);
    return path + L"firmsim.state";
}

HRESULT StateStore::Read(FirmwareState& state) const noexcept
{
    StateLock lock;
    if (FAILED(lock.Result()))
        return lock.Result();
    return ReadUnlocked(state);
}

HRESULT StateStore::Update(const std::function<void(FirmwareState&)>& change, bool repairDamaged) const noexcept
{
    StateLock lock;
    if (FAILED(lock.Result()))
        return lock.Result();
    FirmwareState state;
    HRESULT hr = ReadUnlocked(state);
    if (hr == HRESULT_FROM_WIN32(ERROR_INVALID_DATA) && repairDamaged) {
        state = FirmwareState{};
        hr = S_OK;
    }
    if (FAILED(hr))
        return hr;
    try {
        change(state);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return WriteUnlocked(state);
}

HRESULT StateStore::ReadUnlocked(FirmwareState& state) const noexcept
{
    obrin::UniqueFileHandle file(CreateFileW(m_path.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            state = FirmwareState{};
            return S_OK;
        }
        return HRESULT_FROM_WIN32(error);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return HRESULT_FROM_WIN32(GetLastError());
    if (size.QuadPart > kMaxStateBytes)
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    try {
        std::string text(static_cast<size_t>(size.QuadPart), '\0');
        DWORD read = 0;
        if (!text.empty() && !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
            return HRESULT_FROM_WIN32(GetLastError());
        text.resize(read);
        auto parsed = ParseState(text);
        if (!parsed)
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        state = std::move(*parsed);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT StateStore::WriteUnlocked(const FirmwareState& state) const noexcept
{
    try {
        const std::string text = FormatState(state);
        // Written aside and moved into place, so that a reader never sees half a file.
        const std::wstring temporary = m_path + L".new";
        {
            obrin::UniqueFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file)
                return HRESULT_FROM_WIN32(GetLastError());
            DWORD written = 0;
            if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
                return HRESULT_FROM_WIN32(GetLastError());
            if (written != text.size())
                return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        }
        if (!MoveFileExW(temporary.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING))
            return HRESULT_FROM_WIN32(GetLastError());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace firmsim
