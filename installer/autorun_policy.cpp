#include "installer/autorun_policy.h"

#include "common/ownership.h"

using obrin::UniqueRegKey;

namespace {

constexpr wchar_t kPolicyKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";
constexpr DWORD kAutoRunAllDrivesOff = 0xFF;

std::optional<AutoRunValue> ReadAutoRunValue(HKEY key)
{
    AutoRunValue value;
    DWORD size = 0;
    if (RegQueryValueExW(key, kAutoRunValue, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    if (RegQueryValueExW(key, kAutoRunValue, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    value.present = true;
    return value;
}

}  // namespace

AutoRunValue AllDrivesOff()
{
    const DWORD value = kAutoRunAllDrivesOff;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return {true, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))};
}

std::optional<AutoRunValue> ReadAutoRunPolicy() noexcept
{
    try {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
            return std::nullopt;
        return ReadAutoRunValue(key.get());
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<AutoRunValue> SetAutoRunPolicy(const AutoRunValue& value) noexcept
{
    try {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
            return std::nullopt;
        const std::optional<AutoRunValue> previous = ReadAutoRunValue(key.get());
        if (!previous)
            return std::nullopt;
        if (!value.present)
            RegDeleteValueW(key.get(), kAutoRunValue);
        else
            RegSetValueExW(key.get(), kAutoRunValue, 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        return previous;
    } catch (...) {
        return std::nullopt;
    }
}
