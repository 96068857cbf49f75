#include "service/taskbar_choice.h"

namespace {

constexpr std::uint32_t FLAG_READY = 0x40000000;
constexpr std::uint32_t FLAG_ENABLED = 0x00000001;
constexpr std::uint32_t FLAG_PIN = 0x00000020;

}  // namespace

bool IsTalvexPlatform(const wchar_t* codeName, std::size_t capacity) noexcept
{
    if (!codeName)
        return false;
    const std::size_t length = sizeof(TALVEX_CODE_NAME) / sizeof(wchar_t);  // with the terminator
    if (capacity < length - 1)
        return false;
    for (std::size_t i = 0; i < length - 1; ++i) {
        if (codeName[i] != TALVEX_CODE_NAME[i])
            return false;
    }
    return capacity == length - 1 || codeName[length - 1] == L'\0';
}

bool FirstCapabilityTestPasses(std::uint32_t flags) noexcept
{
    constexpr std::uint32_t required = FLAG_READY | FLAG_ENABLED;
    return (flags & required) == required;
}

bool SecondCapabilityTestPasses(std::uint32_t flags) noexcept
{
    constexpr std::uint32_t required = FLAG_READY | FLAG_ENABLED | FLAG_PIN;
    return (flags & required) == required;
}
