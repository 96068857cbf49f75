#include "sim/firmware/firmware_model.h"

#include <new>

namespace firmsim {
namespace {

WbemObjectPtr NewClass(const wchar_t* className, const wchar_t* superclass, const wchar_t* nameSpace,
                       const wchar_t* keyProperty)
{
    WbemObjectPtr object = WbemObject::Make(ObjectIdentity{className, superclass, nameSpace,
                                                           nameSpace[0] ? ComputerName() : std::wstring(),
                                                           keyProperty});
    if (!object)
        throw std::bad_alloc();
    return object;
}

WbemObjectPtr Spawn(const WbemObjectPtr& classObject)
{
    WbemObjectPtr instance = classObject->NewInstance();
    if (!instance)
        throw std::bad_alloc();
    return instance;
}

void ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        throw std::bad_alloc();
}

WbemObjectPtr NewParameters()
{
    return NewClass(L"__PARAMETERS", L"", L"", L"");
}

// WMI's uint64 travels as a decimal string; events carry their creation time
// as a FILETIME count.
void StampCreationTime(const WbemObjectPtr& event)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    ThrowIfFailed(event->SetString(L"TIME_CREATED", std::to_wstring(ticks).c_str()));
}

}  // namespace

const std::wstring& ComputerName()
{
    // Never destroyed: nothing of the stand-in runs at DLL unload, when
    // delivery threads may have been cut off holding the heap.
    static const std::wstring* name = [] {
        wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
        return new std::wstring(GetComputerNameW(buffer, &size) ? std::wstring(buffer, size) : std::wstring(L"."));
    }();
    return *name;
}

WbemObjectPtr MakeDualOsMethodClass()
{
    WbemObjectPtr inSignature = NewParameters();
    inSignature->AddProperty(L"NotificationCode", CIM_UINT32);
    inSignature->AddProperty(L"NotifycationParmeter", CIM_UINT32);
    WbemObjectPtr outSignature = NewParameters();
    outSignature->AddProperty(L"NotifycationReturnValue", CIM_UINT32);

    WbemObjectPtr classObject = NewClass(kMethodClass, L"", kFirmwareNamespace, kKeyProperty);
    classObject->AddProperty(kKeyProperty, CIM_STRING);
    classObject->AddProperty(L"Active", CIM_BOOLEAN);
    classObject->AddMethod(kNotifyMethod, std::move(inSignature), std::move(outSignature));
    return classObject;
}

WbemObjectPtr MakeDualOsMethodInstance()
{
    WbemObjectPtr instance = Spawn(MakeDualOsMethodClass());
    ThrowIfFailed(instance->SetString(kKeyProperty, kInstanceName));
    ThrowIfFailed(instance->SetBoolean(L"Active", true));
    return instance;
}

WbemObjectPtr MakeDualOsEventClass()
{
    WbemObjectPtr classObject = NewClass(kEventClass, L"WMIEvent", kFirmwareNamespace, L"");
    classObject->AddProperty(kKeyProperty, CIM_STRING);
    classObject->AddProperty(L"Active", CIM_BOOLEAN);
    classObject->AddProperty(L"EventCode", CIM_UINT32);
    classObject->AddProperty(L"TIME_CREATED", CIM_UINT64);
    return classObject;
}

WbemObjectPtr MakeDualOsEvent(uint32_t code)
{
    WbemObjectPtr event = Spawn(MakeDualOsEventClass());
    ThrowIfFailed(event->SetString(kKeyProperty, kInstanceName));
    ThrowIfFailed(event->SetBoolean(L"Active", true));
    ThrowIfFailed(event->SetUInt32(L"EventCode", code));
    StampCreationTime(event);
    return event;
}

WbemObjectPtr MakePowerEvent(uint16_t eventType)
{
    WbemObjectPtr classObject = NewClass(kPowerEventClass, L"__ExtrinsicEvent", L"ROOT\\CIMV2", L"");
    classObject->AddProperty(L"EventType", CIM_UINT16);
    classObject->AddProperty(L"OEMEventCode", CIM_UINT16);
    classObject->AddProperty(L"TIME_CREATED", CIM_UINT64);
    WbemObjectPtr event = Spawn(classObject);
    VARIANT type;
    VariantInit(&type);
    type.vt = VT_I4;
    type.lVal = eventType;
    ThrowIfFailed(event->SetValue(L"EventType", type));
    StampCreationTime(event);
    return event;
}

WbemObjectPtr MakeNotifyResult(ReturnType type, uint32_t value)
{
    WbemObjectPtr outSignature = NewParameters();
    const CIMTYPE cimType = type == ReturnType::UInt32 ? CIM_UINT32 : type == ReturnType::SInt32 ? CIM_SINT32 : CIM_STRING;
    outSignature->AddProperty(L"NotifycationReturnValue", cimType);
    WbemObjectPtr result = Spawn(outSignature);
    if (type == ReturnType::String) {
        ThrowIfFailed(result->SetString(L"NotifycationReturnValue", std::to_wstring(value).c_str()));
    } else {
        VARIANT number;
        VariantInit(&number);
        number.vt = VT_I4;
        number.lVal = static_cast<LONG>(value);
        ThrowIfFailed(result->SetValue(L"NotifycationReturnValue", number));
    }
    return result;
}

}  // namespace firmsim
