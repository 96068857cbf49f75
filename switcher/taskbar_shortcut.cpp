#include "switcher/taskbar_shortcut.h"

#include "common/ownership.h"

#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <memory>
#include <new>

namespace {

void CreateShortcut(const wchar_t* target, const wchar_t* shortcut) noexcept
{
    const obrin::ComInit com(COINIT_APARTMENTTHREADED);
    obrin::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return;
    (void)link->SetPath(target);
    (void)link->SetIconLocation(target, 0);
    obrin::ComPtr<IPersistFile> file;
    if (SUCCEEDED(link.As(file)))
        (void)file->Save(shortcut, TRUE);
}

void DeleteShortcut(const wchar_t* shortcut) noexcept
{
    const size_t length = wcslen(shortcut);
    // SHFileOperationW takes a list ended by two terminators.
    std::unique_ptr<wchar_t[]> from(new (std::nothrow) wchar_t[length + 2]);
    if (!from)
        return;
    wmemcpy(from.get(), shortcut, length);
    from[length] = L'\0';
    from[length + 1] = L'\0';
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.get();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    (void)SHFileOperationW(&operation);
}

void TaskbarShortcut(const ProgramFolder& folder, const char* tag) noexcept
{
    wchar_t image[MAX_PATH] = {};
    if (!PathBesideProgram(folder, L"ObrinSwitcher.exe", image, tag))
        return;
    wchar_t temp[MAX_PATH] = {};
    wchar_t shortcut[MAX_PATH] = {};
    const DWORD tempLength = GetTempPathW(MAX_PATH, temp);
    if (tempLength == 0 || tempLength >= MAX_PATH || !JoinPath(shortcut, temp, L"ObrinSwitcher.lnk"))
        return;
    CreateShortcut(image, shortcut);
    DeleteShortcut(shortcut);
}

}  // namespace

void DoTaskbarPin(const ProgramFolder& folder) noexcept
{
    TaskbarShortcut(folder, "DoTaskbarPin");
}

void DoTaskbarUnpin(const ProgramFolder& folder) noexcept
{
    TaskbarShortcut(folder, "DoTaskbarUnpin");
}
