// The two script runners against Wine's cmd and the stand-in diskpart.
#include "installer/runners.h"
#include "tests/installer/installer_wine_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace installer_test;

namespace {

std::wstring TempFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(ScriptRunners, FileThatCannotBeCreatedFailsAtOnceWithTheWindowsError)
{
    const std::wstring blocked = TempFolder() + L"blocked-script.txt";
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

TEST(ScriptRunners, TextOf2047CharactersIsWrittenWholeWithoutTerminator)
{
    const std::wstring copy = ProgramDirectory() + L"copy-of-batch.bat";
    DeleteFileW(copy.c_str());
    std::wstring text = L"@copy /y \"%~f0\" \"" + copy + L"\" >nul\r\nrem ";
    text.append(kMaxScriptCharacters - text.size(), L'x');
    ASSERT_EQ(text.size(), 2047u);

    ASSERT_TRUE(RunBatchFile(L"long-batch.bat", text.c_str()));
    EXPECT_EQ(ReadBytes(copy), std::string(text.begin(), text.end()));
    EXPECT_EQ(GetFileAttributesW((TempFolder() + L"long-batch.bat").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the batch file is deleted after its run";
}

TEST(ScriptRunners, LongerTextIsRefusedRatherThanCutOff)
{
    const std::wstring text(2048, L'x');
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_FALSE(RunDiskpartScript(text.c_str(), L"too-long.txt", &exitCode));
    EXPECT_NE(exitCode, 0xFFFFFFFFu);
    EXPECT_FALSE(RunBatchFile(L"too-long.bat", text.c_str()));
    EXPECT_EQ(GetFileAttributesW((TempFolder() + L"too-long.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ScriptRunners, BatchRunsInTheTemporaryFolder)
{
    const std::wstring record = ProgramDirectory() + L"batch-cwd.txt";
    DeleteFileW(record.c_str());
    ASSERT_TRUE(RunBatchFile(L"where-am-i.bat", (L"@cd > \"" + record + L"\"\r\n").c_str()));
    std::wstring folder = TempFolder();
    folder.pop_back();
    const std::string expected = std::string(folder.begin(), folder.end()) + "\r\n";
    EXPECT_TRUE(_stricmp(ReadBytes(record).c_str(), expected.c_str()) == 0) << ReadBytes(record);
}

TEST(ScriptRunners, DiskpartExitCodeComesBackAndEachRunTakesASecond)
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
    EXPECT_EQ(GetFileAttributesW((TempFolder() + L"runner-bad.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
