#include "sim/firmware/disk_classes.h"

#include <new>
#include <string>
#include <vector>

#include "common/case_fold.h"
#include "sim/disk/disk_files.h"
#include "sim/disk/disk_view.h"
#include "sim/firmware/firmware_model.h"
#include "sim/firmware/wbem_object.h"

namespace firmsim {
namespace {

namespace disks = obrin::disksim::wmi;
using obrin::disksim::Narrow;
using obrin::disksim::Widen;
using Verdict = disks::ParsedQuery::Verdict;

constexpr wchar_t kCimNamespace[] = L"root\\cimv2";

std::string FromBstr(const BSTR text)
{
    return Narrow(std::wstring(text, SysStringLen(text)));
}

std::wstring WideText(std::string_view text)
{
    return Widen(std::string(text));
}

CIMTYPE CimType(disks::CimKind kind) noexcept
{
    switch (kind) {
    case disks::CimKind::UInt32:
        return CIM_UINT32;
    case disks::CimKind::UInt64:
        return CIM_UINT64;
    case disks::CimKind::Boolean:
        return CIM_BOOLEAN;
    default:
        return CIM_STRING;
    }
}

void ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        throw std::bad_alloc();
}

WbemObjectPtr MakeWbemObject(const disks::DiskObject& object)
{
    WbemObjectPtr classObject = WbemObject::Make(ObjectIdentity{
        WideText(disks::ClassName(object.diskClass)), WideText(disks::SuperclassName(object.diskClass)), kCimNamespace,
        ComputerName(), WideText(disks::kKeyProperty)});
    if (!classObject)
        throw std::bad_alloc();
    for (const disks::Property& property : object.properties)
        classObject->AddProperty(Widen(property.name), CimType(property.kind));
    WbemObjectPtr instance = classObject->NewInstance();
    if (!instance)
        throw std::bad_alloc();
    for (const disks::Property& property : object.properties) {
        const std::wstring name = Widen(property.name);
        if (property.null)
            continue;
        switch (property.kind) {
        case disks::CimKind::String:
            ThrowIfFailed(instance->SetString(name.c_str(), Widen(property.text).c_str()));
            break;
        case disks::CimKind::UInt32:
            ThrowIfFailed(instance->SetUInt32(name.c_str(), static_cast<uint32_t>(property.number)));
            break;
        case disks::CimKind::UInt64:
            // WMI carries uint64 as a decimal string.
            ThrowIfFailed(instance->SetString(name.c_str(), std::to_wstring(property.number).c_str()));
            break;
        case disks::CimKind::Boolean:
            ThrowIfFailed(instance->SetBoolean(name.c_str(), property.number != 0));
            break;
        }
    }
    return instance;
}

// firmwmi.log in the DLL's own folder.
std::wstring ReportPath()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ReportPath), &self);
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    const std::wstring module(path, length);
    return module.substr(0, module.find_last_of(L'\\') + 1) + L"firmwmi.log";
}

std::string ProgramName()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program(path, length < MAX_PATH ? length : 0);
    return Narrow(program.substr(program.find_last_of(L'\\') + 1));
}

SRWLOCK g_reportLock = SRWLOCK_INIT;

// The problem reported last by this process; empty once the model read again.
// Never destroyed: nothing of the stand-in runs at DLL unload.
std::string& LastReport()
{
    static std::string* last = new std::string();
    return *last;
}

// Says why the disk classes found nothing, once for as long as the same
// problem lasts.
void Report(const std::string& problem)
{
    AcquireSRWLockExclusive(&g_reportLock);
    const bool repeated = LastReport() == problem;
    if (!repeated)
        LastReport() = problem;
    ReleaseSRWLockExclusive(&g_reportLock);
    if (repeated)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
    const std::string line = stamp + ProgramName() + " (process " + std::to_string(GetCurrentProcessId()) +
                             "): the disk classes answer with no disks: " + problem + "\r\n";
    obrin::UniqueFileHandle file(CreateFileW(ReportPath().c_str(), FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

disks::DiskView CurrentView()
{
    obrin::disksim::Model model;
    std::string error;
    const std::wstring path = obrin::disksim::ModelFilePath();
    if (obrin::disksim::LoadModelFile(path, model, error)) {
        AcquireSRWLockExclusive(&g_reportLock);
        LastReport().clear();
        ReleaseSRWLockExclusive(&g_reportLock);
    } else {
        Report("model " + Narrow(path) + ": " + error);
        model = {};
    }
    return disks::BuildDiskView(model, Narrow(ComputerName()));
}

HRESULT Enumerate(const std::vector<disks::DiskObject>& found, IEnumWbemClassObject** enumerator)
{
    std::vector<WbemObjectPtr> objects;
    for (const disks::DiskObject& object : found)
        objects.push_back(MakeWbemObject(object));
    auto result = ObjectEnumerator::Make(std::move(objects));
    if (!result)
        return WBEM_E_OUT_OF_MEMORY;
    CopyOut(result, enumerator);
    return S_OK;
}

}  // namespace

std::optional<HRESULT> ExecDiskQuery(const BSTR language, const BSTR query, IEnumWbemClassObject** enumerator) noexcept
{
    if (!language || !query || !enumerator || !obrin::EqualsNoCase(language, L"WQL"))
        return std::nullopt;
    try {
        const disks::ParsedQuery parsed = disks::ParseDiskQuery(FromBstr(query));
        if (parsed.verdict == Verdict::NotDisk)
            return std::nullopt;
        *enumerator = nullptr;
        if (parsed.verdict == Verdict::Invalid)
            return WBEM_E_INVALID_QUERY;
        if (parsed.verdict == Verdict::Unsupported)
            return WBEM_E_NOT_SUPPORTED;
        return Enumerate(disks::RunDiskQuery(CurrentView(), parsed.query), enumerator);
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

std::optional<HRESULT> CreateDiskInstanceEnum(const BSTR className, IEnumWbemClassObject** enumerator) noexcept
{
    if (!className || !enumerator)
        return std::nullopt;
    try {
        const auto diskClass = disks::FindDiskClass(FromBstr(className));
        if (!diskClass)
            return std::nullopt;
        *enumerator = nullptr;
        return Enumerate(CurrentView().Objects(*diskClass), enumerator);
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

std::optional<HRESULT> GetDiskObject(const BSTR path, IWbemClassObject** object) noexcept
{
    if (!path || !object)
        return std::nullopt;
    try {
        const disks::ParsedPath parsed = disks::ParseDiskObjectPath(FromBstr(path));
        if (parsed.verdict == Verdict::NotDisk)
            return std::nullopt;
        *object = nullptr;
        if (parsed.verdict != Verdict::Disk)
            return WBEM_E_INVALID_OBJECT_PATH;
        const disks::DiskView view = CurrentView();
        const disks::DiskObject* found = disks::FindDiskObject(view, parsed.path);
        if (!found)
            return WBEM_E_NOT_FOUND;
        CopyOut(MakeWbemObject(*found), object);
        return S_OK;
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

}  // namespace firmsim
