#include "tests/wmi/wmi_test_support.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/log.h"
#include "common/ownership.h"
#include "tests/support/test_support.h"

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

int RunProgram(const wchar_t* program, const std::wstring& arguments, std::string* output, DWORD timeoutMs)
{
    const std::wstring folder = obrin::test::ProgramDirectory();
    // Output goes to a file: a pipe would need a reader that a hung child
    // could block forever.
    wchar_t outputPath[MAX_PATH] = {};
    if (!GetTempFileNameW(folder.c_str(), L"out", 0, outputPath))
        return -1;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    obrin::UniqueFileHandle outputFile(CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                   &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!outputFile)
        return -1;

    std::wstring commandLine = L"\"" + folder + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outputFile.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    int exitCode = -1;
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                       &process)) {
        obrin::UniqueHandle processHandle(process.hProcess);
        obrin::UniqueHandle threadHandle(process.hThread);
        DWORD code = 0;
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &code))
            exitCode = static_cast<int>(code);
        else
            TerminateProcess(process.hProcess, 1);
    }
    outputFile.reset();
    if (output) {
        std::ifstream in(outputPath, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        *output = all.str();
    }
    DeleteFileW(outputPath);
    return exitCode;
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
