// Benchmark of the script pipe: the switcher's ten-action script against the
// firmware stand-in, and the same client loop against a bare echo server, so
// the ratio shows what parsing, WMI and framing cost. The servers run in a
// child process (this program with "serve"), whose handle count and private
// memory are read before and after 10,000 scripts. Prints Markdown.
#include <windows.h>
#include <process.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/ownership.h"
#include "service/script/script_client.h"
#include "service/script/script_interp.h"
#include "service/script/script_server.h"

using namespace obrin;
using namespace obrin::script;

namespace {

// The service's own pipe name: the server is the one StartScriptServer runs.
constexpr const wchar_t* kScriptPipe = kScriptPipeName;
constexpr wchar_t kEchoPipe[] = L"\\\\.\\pipe\\ObrinBenchEcho";
constexpr int kLatencyRuns = 300;
constexpr int kLeakRuns = 10000;
constexpr double kThroughputSeconds = 3.0;

using Clock = std::chrono::steady_clock;

std::wstring SwitcherScript()
{
    const ScriptActions actions{BuildAction(100, L"root\\wmi,0"),
                                BuildAction(101, L"4,3,0"),
                                BuildAction(102, L"Select * from DualOsMethod,16"),
                                BuildAction(200, L"-1"),
                                BuildAction(401, L"__PATH"),
                                BuildAction(104, L"DualOsMethod,DualOSNotify"),
                                BuildAction(300, L"NotificationCode,17"),
                                BuildAction(300, L"NotifycationParmeter,0"),
                                BuildAction(105, L"$(__PATH),0"),
                                BuildAction(301, L"NotifycationReturnValue")};
    return WriteScript(actions);
}

// --- the child: one server until its standard input closes ---

unsigned __stdcall EchoConnection(void* context) noexcept
{
    UniqueFileHandle pipe(static_cast<HANDLE>(context));
    std::vector<char> message;
    char chunk[4096];
    for (;;) {
        message.clear();
        DWORD got = 0;
        BOOL read = FALSE;
        do {
            read = ReadFile(pipe.get(), chunk, sizeof(chunk), &got, nullptr);
            if (!read && GetLastError() != ERROR_MORE_DATA)
                return 0;
            message.insert(message.end(), chunk, chunk + got);
        } while (!read);
        DWORD written = 0;
        if (!WriteFile(pipe.get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr))
            return 0;
        FlushFileBuffers(pipe.get());
    }
}

HANDLE CreateEchoInstance()
{
    return CreateNamedPipeW(kEchoPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}

// A bare message pipe server: one thread per client, each message written
// back. Like the script server it makes the next instance before handing a
// client over, so clients never find the pipe missing.
void ServeEcho()
{
    HANDLE pipe = CreateEchoInstance();
    while (pipe != INVALID_HANDLE_VALUE) {
        if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            CloseHandle(pipe);
            pipe = CreateEchoInstance();
            continue;
        }
        const HANDLE client = pipe;
        pipe = CreateEchoInstance();
        UniqueHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, EchoConnection, client, 0, nullptr)));
        if (!thread)
            CloseHandle(client);
    }
}

int Serve(const wchar_t* kind)
{
    if (wcscmp(kind, L"echo") == 0) {
        std::thread(ServeEcho).detach();
    } else if (StartScriptServer(RunScriptToResults) != 1) {
        return 1;
    }
    // The parent ends the server by closing this process's standard input.
    char ignored[16];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), ignored, sizeof(ignored), &got, nullptr) && got > 0) {
    }
    return 0;
}

// --- the parent: clients and figures ---

struct ServerProcess {
    UniqueHandle process;
    UniqueHandle input;  // closing it ends the server
};

ServerProcess StartServerProcess(const wchar_t* kind, const wchar_t* pipeName)
{
    ServerProcess server;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueHandle readEnd;
    if (!CreatePipe(readEnd.put(), server.input.put(), &inherit, 0))
        return server;
    SetHandleInformation(server.input.get(), HANDLE_FLAG_INHERIT, 0);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" serve " + kind;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd.get();
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return server;
    server.process.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    for (int i = 0; i < 200 && !WaitNamedPipeW(pipeName, 50); ++i) {
        if (WaitForSingleObject(server.process.get(), 50) == WAIT_OBJECT_0) {
            DWORD exitCode = 0;
            GetExitCodeProcess(server.process.get(), &exitCode);
            fprintf(stderr, "script_bench: the %ls server ended with %lu\n", kind, exitCode);
            server.process.reset();
            break;
        }
    }
    return server;
}

void StopServerProcess(ServerProcess& server)
{
    server.input.reset();
    if (WaitForSingleObject(server.process.get(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(server.process.get(), 1);
}

// One exchange as the switcher makes it; false when anything failed.
bool Exchange(const wchar_t* pipeName, const std::wstring& script, bool expectResult)
{
    CScriptClient client;
    if (!client.Connect(pipeName) || !client.Send(script))
        return false;
    ScriptVariables results;
    if (!client.Receive(results))
        return false;
    return !expectResult || results[L"WMIS_HRESULT"] == L"0";
}

struct Latency {
    double meanMs = 0, medianMs = 0, p95Ms = 0;
    int failures = 0;
};

Latency MeasureLatency(const wchar_t* pipeName, const std::wstring& script, bool expectResult)
{
    std::vector<double> times;
    Latency latency;
    for (int i = 0; i < kLatencyRuns; ++i) {
        const auto begin = Clock::now();
        if (!Exchange(pipeName, script, expectResult))
            ++latency.failures;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    std::sort(times.begin(), times.end());
    for (double t : times)
        latency.meanMs += t / static_cast<double>(times.size());
    latency.medianMs = times[times.size() / 2];
    latency.p95Ms = times[times.size() * 95 / 100];
    return latency;
}

struct Throughput {
    double perSecond = 0;
    int failures = 0;
};

// clients threads exchange for a while, or until limit exchanges were made;
// only exchanges that worked count for the rate.
Throughput MeasureThroughput(const wchar_t* pipeName, const std::wstring& script, bool expectResult, int clients,
                             double seconds, long limit = 0)
{
    std::atomic<long> started = 0;
    std::atomic<long> succeeded = 0;
    std::atomic<int> failures = 0;
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            for (;;) {
                if (limit > 0 ? started.fetch_add(1) >= limit : Clock::now() >= end)
                    return;
                if (Exchange(pipeName, script, expectResult))
                    ++succeeded;
                else
                    ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    return Throughput{static_cast<double>(succeeded.load()) / elapsed, failures.load()};
}

struct ProcessUse {
    ULONG handles = 0;
    SIZE_T privateBytes = 0;
};

// One entry of SystemHandleInformation (class 16). The owner field is read
// as its low 16 bits: Windows stores a 16-bit process id there.
struct SystemHandleEntry {
    ULONG owner;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};
constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

// Wine 8 answers GetProcessHandleCount and the PrivateUsage counter with 0,
// so the handles are counted in the system's handle table and the private
// memory is the committed private regions of the address space.
ProcessUse ReadProcessUse(HANDLE process)
{
    ProcessUse use;
    std::vector<char> table(1 << 20);
    ULONG length = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()),
                                              &length)) == kInfoLengthMismatch)
        table.resize(table.size() * 2);
    if (status == 0) {
        const auto* handles = reinterpret_cast<const SystemHandleTable*>(table.data());
        const ULONG owner = GetProcessId(process) & 0xFFFF;
        for (ULONG i = 0; i < handles->count; ++i)
            if ((handles->entries[i].owner & 0xFFFF) == owner)
                ++use.handles;
    }
    MEMORY_BASIC_INFORMATION region{};
    for (auto* address = static_cast<char*>(nullptr); VirtualQueryEx(process, address, &region, sizeof(region));) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            use.privateBytes += region.RegionSize;
        char* next = static_cast<char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return use;
}

int Measure()
{
    const std::wstring script = SwitcherScript();
    ServerProcess scriptServer = StartServerProcess(L"script", kScriptPipe);
    ServerProcess echoServer = StartServerProcess(L"echo", kEchoPipe);
    if (!scriptServer.process || !echoServer.process) {
        fprintf(stderr, "script_bench: could not start the server processes\n");
        return 1;
    }
    CScriptClient probe;
    ScriptVariables probeResults;
    const bool probed = probe.Connect(kScriptPipe) && probe.Send(script) && probe.Receive(probeResults);
    probe.Close();
    if (!probed || probeResults[L"WMIS_HRESULT"] != L"0") {
        fprintf(stderr, "script_bench: the ten-action script fails (error %lu, results \"%ls\"); is the firmware stand-in installed?\n",
                GetLastError(), FormatResults(probeResults).c_str());
        StopServerProcess(scriptServer);
        StopServerProcess(echoServer);
        return 1;
    }

    const Latency scriptLatency = MeasureLatency(kScriptPipe, script, true);
    const Latency echoLatency = MeasureLatency(kEchoPipe, script, false);
    printf("## Script pipe (script_bench)\n\n");
    printf("The switcher's ten-action `DualOSNotify` script (%zu bytes) through `CScriptClient` (connect, send, "
           "receive, close) against `CScriptServer` running the interpreter on the firmware stand-in, and the same "
           "client loop against a bare echo pipe server (one thread per client, each message written back). "
           "Both servers run in child processes.\n\n",
           WireBytes(script));
    printf("### Round trip, one client (%d exchanges)\n\n", kLatencyRuns);
    printf("| Server | mean ms | median ms | p95 ms | failures |\n|---|---|---|---|---|\n");
    printf("| script server | %.2f | %.2f | %.2f | %d |\n", scriptLatency.meanMs, scriptLatency.medianMs,
           scriptLatency.p95Ms, scriptLatency.failures);
    printf("| bare echo server | %.2f | %.2f | %.2f | %d |\n", echoLatency.meanMs, echoLatency.medianMs,
           echoLatency.p95Ms, echoLatency.failures);
    printf("| ratio | %.1f | %.1f | %.1f | |\n\n", scriptLatency.meanMs / echoLatency.meanMs,
           scriptLatency.medianMs / echoLatency.medianMs, scriptLatency.p95Ms / echoLatency.p95Ms);

    printf("### Scripts per second (%.0f s per figure)\n\n", kThroughputSeconds);
    printf("| Clients | script server | bare echo server | ratio | failures (script / echo) |\n|---|---|---|---|---|\n");
    for (int clients : {1, 8, 32}) {
        const Throughput scriptRate = MeasureThroughput(kScriptPipe, script, true, clients, kThroughputSeconds);
        const Throughput echoRate = MeasureThroughput(kEchoPipe, script, false, clients, kThroughputSeconds);
        printf("| %d | %.0f | %.0f | %.1f | %d / %d |\n", clients, scriptRate.perSecond, echoRate.perSecond,
               echoRate.perSecond / scriptRate.perSecond, scriptRate.failures, echoRate.failures);
        fflush(stdout);
    }

    // Warm up first so one-time allocations (COM, WMI, heaps) are in the baseline.
    (void)MeasureThroughput(kScriptPipe, script, true, 8, 0, 500);
    Sleep(500);
    const ProcessUse before = ReadProcessUse(scriptServer.process.get());
    const Throughput leakRun = MeasureThroughput(kScriptPipe, script, true, 8, 0, kLeakRuns);
    Sleep(500);
    const ProcessUse after = ReadProcessUse(scriptServer.process.get());
    printf("\n### Server process before and after %d scripts (8 clients)\n\n", kLeakRuns);
    printf("| | handles | private KiB |\n|---|---|---|\n");
    printf("| before | %lu | %lu |\n", before.handles, static_cast<unsigned long>(before.privateBytes / 1024));
    printf("| after | %lu | %lu |\n", after.handles, static_cast<unsigned long>(after.privateBytes / 1024));
    const long handleGrowth = static_cast<long>(after.handles) - static_cast<long>(before.handles);
    const long privateGrowthKiB = static_cast<long>(after.privateBytes / 1024) - static_cast<long>(before.privateBytes / 1024);
    // Up to one thread handle per client may still be tracked until the next
    // connection prunes it; heaps keep some slack.
    const bool steady = handleGrowth <= 8 && privateGrowthKiB <= 512;
    printf("| growth | %ld | %ld |\n\n", handleGrowth, privateGrowthKiB);
    printf("Failures during the %d scripts: %d. %s (limits: 8 handles, 512 KiB).\n\n", kLeakRuns, leakRun.failures,
           steady ? "No growth beyond noise" : "**The server process grew**");

    StopServerProcess(scriptServer);
    StopServerProcess(echoServer);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && wcscmp(argv[1], L"serve") == 0)
        return Serve(argv[2]);
    return Measure();
}
