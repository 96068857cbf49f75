// Whether the service's start pins the switcher's taskbar entry, unpins it or
// leaves it alone: the platform's code name and the firmware's flags.
// Windows-free.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr wchar_t TALVEX_CODE_NAME[] = L"Talvex";

// True when the first `capacity` characters of codeName hold exactly
// "Talvex" (case-sensitive, whole string): that platform keeps its entry as
// it is. Never reads past capacity, so a registry value without a terminator
// is safe.
[[nodiscard]] bool IsTalvexPlatform(const wchar_t* codeName, std::size_t capacity) noexcept;

// The two tests on the firmware's flags word (code 16) that allow pinning.
[[nodiscard]] bool FirstCapabilityTestPasses(std::uint32_t flags) noexcept;
[[nodiscard]] bool SecondCapabilityTestPasses(std::uint32_t flags) noexcept;
