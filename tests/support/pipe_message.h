// Reading one whole message of a pipe in message read mode, for the tests'
// clients, tools and stand-in servers. Header only: the tools that use it
// link nothing of the test harness.
#pragma once

#include "common/script/script_pipe.h"

#include <windows.h>

#include <string>

namespace obrin::test {

// Reads until a read completes the message. ERROR_SUCCESS when the message
// arrived whole, else the failing read's error; what arrived before the
// failure stays in message.
inline DWORD ReadPipeMessage(HANDLE pipe, std::wstring& message)
{
    message.clear();
    wchar_t chunk[obrin::script::kPipeChunkChars];
    for (;;) {
        DWORD got = 0;
        const BOOL complete = ReadFile(pipe, chunk, sizeof(chunk), &got, nullptr);
        message.append(chunk, got / sizeof(wchar_t));
        if (complete)
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (error != ERROR_MORE_DATA)
            return error;
    }
}

}  // namespace obrin::test
