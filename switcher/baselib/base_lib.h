// The switcher's support library: memory (plain and tagged), files, formatted
// text, conversions and diagnostic messages, as a table of operations in a
// context. Every operation takes the context's handle (the address of its
// Signature field) first and reports 0/1, -1 or null on refusal.
#pragma once

#include "switcher/baselib/linked_list.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint32_t BASE_LIB_SIGNATURE = 0x4C736142;       // "BasL" as bytes
constexpr uintptr_t BASE_LIB_FILE_TAG = 0x31343538;       // tag of every file handle
constexpr size_t BASE_LIB_DIAG_PATH_SIZE = 1024;
constexpr size_t BASE_LIB_DIAG_TEXT_SIZE = 1024;
constexpr size_t BASE_LIB_FILE_PRINT_SIZE = 1024;

// Message types and output bits of the diagnostic settings.
constexpr uint32_t BASE_LIB_DIAG_INFO = 1;
constexpr uint32_t BASE_LIB_DIAG_WARN = 2;
constexpr uint32_t BASE_LIB_DIAG_ERRO = 4;
constexpr uint32_t BASE_LIB_DIAG_TO_FILE = 1;
constexpr uint32_t BASE_LIB_DIAG_TO_CONSOLE = 2;
// The category every operation of this library reports under.
constexpr uint32_t BASE_LIB_DIAG_CATEGORY = 4;

using BaseLibHandle = uint32_t*;

struct BaseLibDiagSettings {
    uint32_t Enabled;
    uint32_t Outputs;
    uint32_t Levels;
    uint32_t Categories;
    char FilePath[BASE_LIB_DIAG_PATH_SIZE];
};
static_assert(sizeof(BaseLibDiagSettings) == 1040);

struct BaseLibTagInfo {
    ListEntry Link;
    void* Address;
    size_t Size;
    uintptr_t Tag;
};

struct BaseLibReserved {
    uint8_t Bytes[24];
};

// What BaseLib_FileOpen hands out: a tagged block holding the stream.
struct BaseLibFile {
    FILE* FileHandler;
    uint32_t Tag;
};

struct BaseLibOperations {
    int32_t (*InstanceCount)(BaseLibHandle handle) noexcept;
    int32_t (*Print)(BaseLibHandle handle, const char* format, ...) noexcept;
    int32_t (*SPrint)(BaseLibHandle handle, char* buffer, size_t bufferSize, const char* format, ...) noexcept;
    int32_t (*VSPrint)(BaseLibHandle handle, char* buffer, size_t bufferSize, const char* format,
                       va_list args) noexcept;
    int32_t (*FilePrint)(BaseLibHandle handle, const char* path, const char* format, ...) noexcept;
    int32_t (*VPrint)(BaseLibHandle handle, const char* format, va_list args) noexcept;
    int32_t (*DiagMessage)(BaseLibHandle handle, uint32_t type, uint32_t category, const char* function,
                           const char* format, ...) noexcept;
    int32_t (*TrimTrailingBlanks)(BaseLibHandle handle, char* text, size_t capacity) noexcept;
    int32_t (*UpperCase)(BaseLibHandle handle, char* text) noexcept;
    int32_t (*UpperCaseStrip0x)(BaseLibHandle handle, char* text) noexcept;
    int32_t (*HexToValue)(BaseLibHandle handle, const char* text, void* destination, uint32_t size) noexcept;
    int32_t (*PrintW)(BaseLibHandle handle, const wchar_t* format, ...) noexcept;
    // bufferSize in bytes.
    int32_t (*SPrintW)(BaseLibHandle handle, wchar_t* buffer, size_t bufferSize, const wchar_t* format,
                       ...) noexcept;
    BaseLibFile* (*FileOpen)(BaseLibHandle handle, const char* path, const char* mode) noexcept;
    size_t (*FileRead)(BaseLibHandle handle, void* buffer, size_t size, size_t count, BaseLibFile* file) noexcept;
    size_t (*FileWrite)(BaseLibHandle handle, const void* data, size_t size, size_t count,
                        BaseLibFile* file) noexcept;
    int32_t (*FileClose)(BaseLibHandle handle, BaseLibFile* file) noexcept;
    long (*FileLength)(BaseLibHandle handle, BaseLibFile* file) noexcept;
    int32_t (*FileAppendString)(BaseLibHandle handle, const char* path, const char* text) noexcept;
    void* (*MmZeroMem)(BaseLibHandle handle, void* block, size_t size) noexcept;
    void* (*MmCopyMem)(BaseLibHandle handle, void* destination, const void* source, size_t size) noexcept;
    int32_t (*MmCmpMem)(BaseLibHandle handle, const void* first, const void* second, size_t size) noexcept;
    void* (*MmAllocMem)(BaseLibHandle handle, size_t size) noexcept;
    void* (*MmAllocMemWithTag)(BaseLibHandle handle, size_t size, uintptr_t tag) noexcept;
    int32_t (*MmFreeMem)(BaseLibHandle handle, void* block) noexcept;
    int32_t (*MmFreeMemWithTag)(BaseLibHandle handle, void* block) noexcept;
    int32_t (*MmGetStatus)(BaseLibHandle handle, uint32_t flag) noexcept;
    int32_t (*BitTest)(BaseLibHandle handle, uint32_t value, uint32_t bit) noexcept;
    int32_t (*BitTestInverted)(BaseLibHandle handle, uint32_t value, uint32_t bit) noexcept;
};

struct BaseLibContext {
    uint32_t Initialized;
    BaseLibOperations Ops;
    uint32_t Signature;
    BaseLibDiagSettings* DiagSettings;
    BaseLibTagInfo* TagList;  // sentinel of the tagged allocations
    BaseLibReserved* Reserved;
    LinkedListOperations* ListOps;
};

// 1 on success; 0 (with nothing kept) when a sub-record cannot be allocated.
[[nodiscard]] int32_t BaseLib_Initialize(BaseLibContext* context) noexcept;
// Frees every tagged block still held, the sub-records, and zeroes the context.
void BaseLib_Uninitialize(BaseLibContext* context) noexcept;

inline BaseLibHandle BaseLib_Handle(BaseLibContext* context) noexcept
{
    return context ? &context->Signature : nullptr;
}
