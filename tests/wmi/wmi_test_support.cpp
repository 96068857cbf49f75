#include "tests/wmi/wmi_test_support.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>

#include "common/log.h"

namespace wmitest {

std::vector<std::string> LogLinesOf(const char* tag)
{
    std::ifstream in(GetLog().Path(), std::ios::binary);
    const std::string marker = std::string("][") + tag + "():";
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Skip "[date time] " up to the level's bracket.
        const size_t level = line.find("] [");
        if (level != std::string::npos && line.find(marker) != std::string::npos)
            lines.push_back(line.substr(level + 2));
    }
    return lines;
}

void DeleteLog()
{
    DeleteFileW(GetLog().Path());
}

std::string LevelAndText(const std::string& line)
{
    // "[ERROR][Tag():123] text"
    const size_t levelEnd = line.find(']');
    const size_t textStart = line.find("] ", levelEnd + 1);
    if (line.empty() || line[0] != '[' || levelEnd == std::string::npos || textStart == std::string::npos)
        return "malformed: " + line;
    return line.substr(1, levelEnd - 1) + " " + line.substr(textStart + 2);
}

std::string Format(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

FakeEventObject::FakeEventObject(const wchar_t* name, CIMTYPE cimType, VARIANT value)
    : m_name(name), m_cimType(cimType), m_value(value)
{
}

FakeEventObject::~FakeEventObject()
{
    VariantClear(&m_value);
}

HRESULT FakeEventObject::QueryInterface(REFIID iid, void** object)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemClassObject)) {
        *object = static_cast<IWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG FakeEventObject::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

// The test owns the object on its stack; the count is only observed.
ULONG FakeEventObject::Release()
{
    return static_cast<ULONG>(InterlockedDecrement(&m_refs));
}

HRESULT FakeEventObject::Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type, LONG*)
{
    if (!name || _wcsicmp(name, m_name.c_str()) != 0)
        return WBEM_E_NOT_FOUND;
    if (value) {
        VariantInit(value);
        const HRESULT hr = VariantCopy(value, &m_value);
        if (FAILED(hr))
            return hr;
    }
    if (type)
        *type = m_cimType;
    return S_OK;
}

VARIANT MakeI4(LONG value)
{
    VARIANT variant;
    VariantInit(&variant);
    V_VT(&variant) = VT_I4;
    V_I4(&variant) = value;
    return variant;
}

}  // namespace wmitest
