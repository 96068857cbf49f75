// The registry values the service and the switcher share.
#pragma once

// Under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t OBRIN_REGISTRY_KEY[] = L"SOFTWARE\\Vantrel\\VantrelObrin";
// REG_DWORD 0, 1 or 2: written by the service on its controls 128 to 130, read by the switcher.
inline constexpr wchar_t OBRIN_SHOWMSG_VALUE[] = L"ShowMsg";
// The platform's name, read by the service at start.
inline constexpr wchar_t OBRIN_CODENAME_VALUE[] = L"CodeName";
