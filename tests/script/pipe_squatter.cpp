// A stranger on the service's pipe, for the tests: serves instances of
// \\.\pipe\DualOSScriptServer from its own process, answers every message as
// the service would for a ready firmware, and appends whatever it receives to
// a record file.
//
//   pipesquatter.exe RECORD INSTANCES LIFETIME_MS
//
// It sets the event "ObrinPipeSquatterReady" once every instance exists and
// ends after LIFETIME_MS. Exit codes: 0 lifetime over, 1 an instance could
// not be made, 2 bad arguments.
#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/ownership.h"
#include "common/script/script_pipe.h"
#include "tests/support/pipe_message.h"

namespace {

constexpr wchar_t kReadyEvent[] = L"ObrinPipeSquatterReady";
constexpr wchar_t kReply[] = L"NotifycationReturnValue=0;WMIS_ActionIndex=9;WMIS_HRESULT=0;";

const wchar_t* g_recordPath = nullptr;
SRWLOCK g_recordLock = SRWLOCK_INIT;

void Record(const std::wstring& message)
{
    // UTF-16 as it arrived, behind a header line naming its size.
    const std::string header = "received " + std::to_string(message.size() * sizeof(wchar_t)) + " bytes\n";
    AcquireSRWLockExclusive(&g_recordLock);
    obrin::UniqueFileHandle file(CreateFileW(g_recordPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) {
        WriteFile(file.get(), header.data(), static_cast<DWORD>(header.size()), &written, nullptr);
        WriteFile(file.get(), message.data(), static_cast<DWORD>(message.size() * sizeof(wchar_t)), &written,
                  nullptr);
    }
    ReleaseSRWLockExclusive(&g_recordLock);
}

unsigned __stdcall ServeInstance(void* instance) noexcept
{
    const HANDLE pipe = instance;
    for (;;) {
        if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
            return 0;
        std::wstring message;
        while (obrin::test::ReadPipeMessage(pipe, message) == ERROR_SUCCESS) {
            Record(message);
            DWORD written = 0;
            if (!WriteFile(pipe, kReply, static_cast<DWORD>(wcslen(kReply) * sizeof(wchar_t)), &written, nullptr))
                break;
        }
        DisconnectNamedPipe(pipe);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    g_recordPath = argv[1];
    const int count = _wtoi(argv[2]);
    const DWORD lifetimeMs = static_cast<DWORD>(_wtoi(argv[3]));
    if (count < 1)
        return 2;

    std::vector<obrin::UniqueFileHandle> instances;
    for (int i = 0; i < count; ++i) {
        instances.emplace_back(CreateNamedPipeW(obrin::script::kScriptPipeName, PIPE_ACCESS_DUPLEX,
                                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                                PIPE_UNLIMITED_INSTANCES, obrin::script::kPipeChunkBytes,
                                                obrin::script::kPipeChunkBytes, 0, nullptr));
        if (!instances.back()) {
            fwprintf(stderr, L"pipesquatter: instance %d not made [Err=%lu]\n", i, GetLastError());
            return 1;
        }
    }
    // The threads are not waited for: the process ends at its lifetime.
    for (const obrin::UniqueFileHandle& instance : instances) {
        const obrin::UniqueHandle thread(
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ServeInstance, instance.get(), 0, nullptr)));
        if (!thread)
            return 1;
    }
    obrin::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, kReadyEvent));
    SetEvent(ready.get());
    Sleep(lifetimeMs);
    ExitProcess(0);
}
