#include "installer/script_folder.h"

#include "common/log.h"

#include <sddl.h>
#include <shlobj.h>

namespace {

// Protected (P): nothing is inherited from the folders above, which other
// users may be able to change. OICI: the script files inherit the entries.
constexpr wchar_t kScriptFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kProgramDataFolder[] = L"\\Vantrel\\VantrelObrin\\";
constexpr unsigned kNameAttempts = 100;

std::wstring g_activeFolder;

}  // namespace

obrin::UniqueLocalMem BuildScriptFolderSecurity() noexcept
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kScriptFolderSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return obrin::UniqueLocalMem();
    return obrin::UniqueLocalMem(descriptor);
}

CScriptFolder::CScriptFolder() noexcept
{
    try {
        wchar_t programData[MAX_PATH] = {};
        const obrin::UniqueLocalMem security = BuildScriptFolderSecurity();
        if (!security ||
            FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData))) {
            GetLog().Print(LOG_ERROR, "CScriptFolder", __LINE__, L"no folder for the scripts [Err=%u]\n",
                           GetLastError());
            return;
        }
        const std::wstring parent = std::wstring(programData) + kProgramDataFolder;
        const int made = SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
            GetLog().Print(LOG_ERROR, "CScriptFolder", __LINE__, L"%s could not be created [Err=%u]\n",
                           parent.c_str(), static_cast<unsigned>(made));
            return;
        }
        // A new name each time: a folder that exists already, whoever made
        // it, is never used.
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), security.get(), FALSE};
        std::wstring path;
        DWORD error = ERROR_ALREADY_EXISTS;
        for (unsigned attempt = 0; attempt < kNameAttempts && error == ERROR_ALREADY_EXISTS; ++attempt) {
            path = parent + L"Scripts-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
            error = CreateDirectoryW(path.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
        }
        if (error != ERROR_SUCCESS) {
            GetLog().Print(LOG_ERROR, "CScriptFolder", __LINE__, L"%s could not be created [Err=%u]\n", path.c_str(),
                           error);
            return;
        }
        // Without delete sharing, nobody can rename or remove it under us.
        m_hold.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!m_hold) {
            GetLog().Print(LOG_ERROR, "CScriptFolder", __LINE__, L"%s could not be opened [Err=%u]\n", path.c_str(),
                           GetLastError());
            RemoveDirectoryW(path.c_str());
            return;
        }
        m_path = path + L"\\";
        g_activeFolder = m_path;
    } catch (...) {
        m_hold.reset();
    }
}

CScriptFolder::~CScriptFolder()
{
    if (!m_hold)
        return;
    g_activeFolder.clear();
    try {
        // The runners delete their files; one left by a failed delete goes here.
        WIN32_FIND_DATAW found = {};
        obrin::UniqueFindHandle search(FindFirstFileW((m_path + L"*").c_str(), &found));
        if (search) {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                    DeleteFileW((m_path + found.cFileName).c_str());
            } while (FindNextFileW(search.get(), &found));
        }
    } catch (...) {
        // What could not be listed stays; the folder then stays with it.
    }
    m_hold.reset();
    RemoveDirectoryW(m_path.c_str());
}

const std::wstring& ActiveScriptFolder() noexcept
{
    return g_activeFolder;
}
