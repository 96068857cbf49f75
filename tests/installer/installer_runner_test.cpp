// The two script runners against Wine's cmd and the stand-in diskpart, and
// the folder they write to.
#include "installer/runners.h"
#include "installer/script_folder.h"
#include "tests/installer/installer_wine_support.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace installer_test;

namespace {

// Every run of the installer writes its scripts into a script folder of its
// own; so does each test.
class ScriptRunners : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.valid()); }
    static std::wstring Folder() { return ActiveScriptFolder(); }

private:
    CScriptFolder m_folder;
};

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST_F(ScriptRunners, FileThatCannotBeCreatedFailsAtOnceWithTheWindowsError)
{
    const std::wstring blocked = Folder() + L"blocked-script.txt";
    ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);

    DWORD exitCode = 0xFFFFFFFF;
    const DWORD start = GetTickCount();
    EXPECT_FALSE(RunDiskpartScript(L"exit\r\n", L"blocked-script.txt", &exitCode));
    EXPECT_LT(GetTickCount() - start, 1000u) << "no process may be waited for";
    EXPECT_NE(exitCode, 0xFFFFFFFFu);
    EXPECT_NE(exitCode, 0u);
    EXPECT_FALSE(RunBatchFile(L"blocked-script.txt", L"echo never\r\n"));
    EXPECT_TRUE(RemoveDirectoryW(blocked.c_str()));
}

TEST_F(ScriptRunners, TextOf2047CharactersIsWrittenWholeWithoutTerminator)
{
    const std::wstring copy = ProgramDirectory() + L"copy-of-batch.bat";
    DeleteFileW(copy.c_str());
    std::wstring text = L"@copy /y \"%~f0\" \"" + copy + L"\" >nul\r\nrem ";
    text.append(kMaxScriptCharacters - text.size(), L'x');
    ASSERT_EQ(text.size(), 2047u);

    ASSERT_TRUE(RunBatchFile(L"long-batch.bat", text.c_str()));
    EXPECT_EQ(ReadBytes(copy), std::string(text.begin(), text.end()));
    EXPECT_EQ(GetFileAttributesW((Folder() + L"long-batch.bat").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the batch file is deleted after its run";
}

TEST_F(ScriptRunners, LongerTextIsRefusedRatherThanCutOff)
{
    const std::wstring text(2048, L'x');
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_FALSE(RunDiskpartScript(text.c_str(), L"too-long.txt", &exitCode));
    EXPECT_NE(exitCode, 0xFFFFFFFFu);
    EXPECT_FALSE(RunBatchFile(L"too-long.bat", text.c_str()));
    EXPECT_EQ(GetFileAttributesW((Folder() + L"too-long.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ScriptRunners, BatchRunsInTheScriptFolder)
{
    const std::wstring record = ProgramDirectory() + L"batch-cwd.txt";
    DeleteFileW(record.c_str());
    ASSERT_TRUE(RunBatchFile(L"where-am-i.bat", (L"@cd > \"" + record + L"\"\r\n").c_str()));
    std::wstring folder = Folder();
    folder.pop_back();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(folder.find(temp), std::wstring::npos) << "never the user's temporary folder";
    const std::string expected = std::string(folder.begin(), folder.end()) + "\r\n";
    EXPECT_TRUE(_stricmp(ReadBytes(record).c_str(), expected.c_str()) == 0) << ReadBytes(record);
}

TEST_F(ScriptRunners, DiskpartExitCodeComesBackAndEachRunTakesASecond)
{
    ResetMachine("standard");
    DWORD exitCode = 0xFFFFFFFF;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(RunDiskpartScript(L"select disk 0\r\nexit\r\n", L"runner-ok.txt", &exitCode));
    EXPECT_GE(GetTickCount() - start, 1000u);
    EXPECT_EQ(exitCode, 0u);

    exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(RunDiskpartScript(L"select disk 7\r\nexit\r\n", L"runner-bad.txt", &exitCode));
    EXPECT_NE(exitCode, 0u);
    EXPECT_NE(exitCode, 0xFFFFFFFFu);
    EXPECT_EQ(GetFileAttributesW((Folder() + L"runner-bad.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

// The folder is new for every run, under the installer's program-data
// folder, and gone afterwards with whatever was left in it; one that exists
// already is never taken, whoever made it.
TEST(ScriptFolder, FreshForEachRunAndGoneAfterwards)
{
    wchar_t programData[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData)));
    const std::wstring parent = std::wstring(programData) + L"\\Vantrel\\VantrelObrin\\";
    const std::wstring planted = parent + L"Scripts-" + std::to_wstring(GetCurrentProcessId()) + L"-0";
    SHCreateDirectoryExW(nullptr, planted.c_str(), nullptr);
    const std::wstring plantedFile = planted + L"\\install-android.txt";
    {
        std::ofstream file(plantedFile.c_str());
        file << "select disk 0\r\n";
    }
    EXPECT_TRUE(ActiveScriptFolder().empty());

    std::wstring used;
    {
        const CScriptFolder folder;
        ASSERT_TRUE(folder.valid());
        used = ActiveScriptFolder();
        EXPECT_EQ(used.rfind(parent, 0), 0u) << std::string(used.begin(), used.end());
        EXPECT_NE(used, planted + L"\\");
        EXPECT_NE(GetFileAttributesW(used.c_str()), INVALID_FILE_ATTRIBUTES);
        std::ofstream((used + L"left-behind.txt").c_str()) << "x";
        // Held without delete sharing: it cannot be moved away and replaced.
        EXPECT_FALSE(MoveFileW(used.c_str(), (parent + L"moved-away").c_str()));
    }
    EXPECT_TRUE(ActiveScriptFolder().empty());
    EXPECT_EQ(GetFileAttributesW(used.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(FileExists(plantedFile)) << "a folder made by someone else is left alone";
    DeleteFileW(plantedFile.c_str());
    RemoveDirectoryW(planted.c_str());

    // Without a script folder nothing is run.
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_FALSE(RunDiskpartScript(L"exit\r\n", L"no-folder.txt", &exitCode));
    EXPECT_EQ(exitCode, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Wine keeps no DACL on folders (it answers GetNamedSecurityInfoW with its
// default), so the descriptor the installer makes the folder with is checked
// here, in-process, as it is built: protected, SYSTEM and Administrators
// only, and an ordinary user (this user without Administrators) may neither
// write nor add a file.
TEST(ScriptFolder, OnlySystemAndAdministratorsMayWrite)
{
    const obrin::UniqueLocalMem descriptor = BuildScriptFolderSecurity();
    ASSERT_TRUE(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "nothing may be inherited from the folders above";
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr) << "a NULL DACL lets everyone in";

    BYTE systemSid[SECURITY_MAX_SID_SIZE];
    BYTE administratorsSid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(systemSid);
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &size));
    size = sizeof(administratorsSid);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administratorsSid, &size));
    ASSERT_EQ(dacl->AceCount, 2);
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        EXPECT_TRUE(EqualSid(sid, systemSid) || EqualSid(sid, administratorsSid)) << "entry " << i;
    }

    // The same entries with an owner and group, as AccessCheck needs them.
    wchar_t* dacltext = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &dacltext, nullptr));
    const obrin::UniqueLocalMem textOwner(dacltext);
    PSECURITY_DESCRIPTOR owned = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW((std::wstring(L"O:SYG:SY") + dacltext).c_str(),
                                                                     SDDL_REVISION_1, &owned, nullptr));
    const obrin::UniqueLocalMem ownedOwner(owned);

    obrin::UniqueHandle process;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.put()));
    SID_AND_ATTRIBUTES withoutAdministrators = {administratorsSid, 0};
    obrin::UniqueHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process.get(), 0, 1, &withoutAdministrators, 0, nullptr, 0, nullptr,
                                      restricted.put()))
        << GetLastError();
    obrin::UniqueHandle ordinary;
    ASSERT_TRUE(DuplicateToken(restricted.get(), SecurityImpersonation, ordinary.put()));
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (const DWORD wanted : {DWORD{FILE_GENERIC_WRITE}, DWORD{FILE_ADD_FILE}, DWORD{FILE_WRITE_DATA}, DWORD{DELETE},
                               DWORD{WRITE_DAC}}) {
        PRIVILEGE_SET privileges = {};
        DWORD privilegesSize = sizeof(privileges);
        DWORD granted = 0;
        BOOL allowed = TRUE;
        ASSERT_TRUE(AccessCheck(owned, ordinary.get(), wanted, &mapping, &privileges, &privilegesSize, &granted,
                                &allowed))
            << GetLastError();
        EXPECT_FALSE(allowed) << "an ordinary user is granted 0x" << std::hex << wanted;
    }
}

}  // namespace
