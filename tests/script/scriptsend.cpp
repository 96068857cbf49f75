// scriptsend: sends one WMI script over the script pipe, as the switcher
// does, and prints the reply text exactly as it arrived.
//   scriptsend [--pipe NAME] SCRIPT...   (the arguments are joined by blanks)
// Exit codes: 0 a reply was read, 1 the pipe could not be opened or written,
// 2 no script given.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/script/script_client.h"
#include "tests/support/pipe_message.h"

using namespace obrin::script;

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* pipeName = kScriptPipeName;
    int first = 1;
    if (argc > 2 && wcscmp(argv[1], L"--pipe") == 0) {
        pipeName = argv[2];
        first = 3;
    }
    if (first >= argc) {
        fputws(L"usage: scriptsend [--pipe NAME] SCRIPT...\n", stderr);
        return 2;
    }
    std::wstring script = argv[first];
    for (int i = first + 1; i < argc; ++i)
        script += L" " + std::wstring(argv[i]);

    CScriptClient client;
    if (!client.Connect(pipeName)) {
        fwprintf(stderr, L"scriptsend: cannot open %ls [Err=%lu]\n", pipeName, GetLastError());
        return 1;
    }
    if (!client.Send(script)) {
        fwprintf(stderr, L"scriptsend: cannot send the script [Err=%lu]\n", GetLastError());
        return 1;
    }
    std::wstring reply;
    obrin::test::ReadPipeMessage(client.Handle(), reply);
    // UTF-8 bytes: wide console output would be cut at the first character
    // above U+00FF by the C runtime.
    std::string text(reply.size() * 3, '\0');
    text.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, reply.data(), static_cast<int>(reply.size()),
                                                             text.data(), static_cast<int>(text.size()), nullptr, nullptr)));
    fwrite(text.data(), 1, text.size(), stdout);
    fputc('\n', stdout);
    return 0;
}
