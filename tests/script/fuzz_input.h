// Fuzzer bytes read as the wire reads them: UTF-16LE code units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::wstring WireText(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    return text;
}
