#include "switcher/baselib/base_lib.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

int32_t g_baseLibInstances = 0;

constexpr const char* kPassed = "PASSED";
constexpr const char* kFailed = "FAILED";
// Formatted wide text larger than this is refused rather than grown without end.
constexpr size_t kWideFormatLimit = 1u << 20;

BaseLibContext* ContextFromHandle(BaseLibHandle handle) noexcept
{
    if (!handle || *handle != BASE_LIB_SIGNATURE)
        return nullptr;
    auto* context = reinterpret_cast<BaseLibContext*>(
        reinterpret_cast<char*>(handle) - offsetof(BaseLibContext, Signature));
    return context->Initialized ? context : nullptr;
}

LinkedListHandle ListHandle(BaseLibContext* context) noexcept
{
    return LinkedList_Handle(context->ListOps);
}

// The tag is a pointer-sized value that callers fill with characters
// ("8541" for files); it is shown as those characters.
void TagToText(uintptr_t tag, char (&text)[sizeof(uintptr_t) + 1]) noexcept
{
    size_t length = 0;
    for (size_t i = 0; i < sizeof(uintptr_t); ++i) {
        const auto byte = static_cast<unsigned char>((tag >> (8 * i)) & 0xFF);
        if (byte == 0)
            break;
        text[length++] = isprint(byte) ? static_cast<char>(byte) : '?';
    }
    text[length] = '\0';
}

int HexDigit(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Length in characters of the formatted wide text, or -1. The wide printf
// family has no portable length query, so the text is formatted into growing
// scratch buffers until it fits.
long WideFormattedLength(const wchar_t* format, va_list args) noexcept
{
    for (size_t capacity = 256; capacity <= kWideFormatLimit; capacity *= 2) {
        auto* scratch = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
        if (!scratch)
            return -1;
        va_list copy;
        va_copy(copy, args);
        const int length = vswprintf(scratch, capacity, format, copy);
        va_end(copy);
        free(scratch);
        if (length >= 0)
            return length;
    }
    return -1;
}

int32_t BaseLib_InstanceCount(BaseLibHandle handle) noexcept
{
    return ContextFromHandle(handle) ? g_baseLibInstances : 0;
}

int32_t BaseLib_VPrint(BaseLibHandle handle, const char* format, va_list args) noexcept
{
    if (!ContextFromHandle(handle) || !format)
        return -1;
    va_list copy;
    va_copy(copy, args);
    const int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0)
        return -1;
    const size_t size = static_cast<size_t>(needed) + 4;
    auto* text = static_cast<char*>(calloc(1, size));
    if (!text)
        return -1;
    vsnprintf(text, size, format, args);
    const int printed = printf("%s", text);
    free(text);
    return printed;
}

int32_t BaseLib_Print(BaseLibHandle handle, const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    const int32_t printed = BaseLib_VPrint(handle, format, args);
    va_end(args);
    return printed;
}

int32_t BaseLib_VSPrint(BaseLibHandle handle, char* buffer, size_t bufferSize, const char* format,
                        va_list args) noexcept
{
    if (!ContextFromHandle(handle) || !buffer || !format)
        return 0;
    va_list copy;
    va_copy(copy, args);
    const int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0 || bufferSize < static_cast<size_t>(needed) + 4)
        return -1;
    return vsnprintf(buffer, bufferSize, format, args);
}

int32_t BaseLib_SPrint(BaseLibHandle handle, char* buffer, size_t bufferSize, const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    const int32_t written = BaseLib_VSPrint(handle, buffer, bufferSize, format, args);
    va_end(args);
    return written;
}

int32_t BaseLib_FileAppendString(BaseLibHandle handle, const char* path, const char* text) noexcept
{
    if (!ContextFromHandle(handle) || !path || !text)
        return 0;
    FILE* file = fopen(path, "a");
    if (!file)
        return 0;
    const size_t length = strlen(text);
    const size_t written = fwrite(text, 1, length, file);
    const bool closed = fclose(file) == 0;
    return (written == length && closed) ? 1 : 0;
}

int32_t BaseLib_FilePrint(BaseLibHandle handle, const char* path, const char* format, ...) noexcept
{
    if (!ContextFromHandle(handle) || !path || !format)
        return 0;
    char text[BASE_LIB_FILE_PRINT_SIZE];
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    // A text cut at the limit would be written as if complete.
    if (length < 0 || static_cast<size_t>(length) >= sizeof(text))
        return 0;
    return BaseLib_FileAppendString(handle, path, text);
}

int32_t BaseLib_DiagMessage(BaseLibHandle handle, uint32_t type, uint32_t category, const char* function,
                            const char* format, ...) noexcept
{
    BaseLibContext* context = ContextFromHandle(handle);
    if (!context || !context->DiagSettings || !function || !format)
        return 0;
    const BaseLibDiagSettings& settings = *context->DiagSettings;
    if (settings.Enabled == 0 || settings.Outputs == 0)
        return 0;
    if (settings.Categories <= 6 && (settings.Categories & category) == 0)
        return 0;
    const char* header = nullptr;
    switch (type) {
    case BASE_LIB_DIAG_INFO: header = "[INFO][%s()] %s\n"; break;
    case BASE_LIB_DIAG_WARN: header = "[WARN][%s()] %s\n"; break;
    case BASE_LIB_DIAG_ERRO: header = "[ERRO][%s()] %s\n"; break;
    default: return 0;
    }
    if ((settings.Levels & type) == 0)
        return 0;

    char lineFormat[BASE_LIB_DIAG_TEXT_SIZE];
    const int headerLength = snprintf(lineFormat, sizeof(lineFormat), header, function, format);
    // A format cut in the middle of a conversion would read arguments wrongly.
    if (headerLength < 0 || static_cast<size_t>(headerLength) >= sizeof(lineFormat))
        return 0;
    char line[BASE_LIB_DIAG_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    const int lineLength = vsnprintf(line, sizeof(line), lineFormat, args);
    va_end(args);
    if (lineLength < 0)
        return 0;

    if (settings.Outputs & BASE_LIB_DIAG_TO_FILE) {
        char path[BASE_LIB_DIAG_PATH_SIZE + 1] = {};
        memcpy(path, settings.FilePath, strnlen(settings.FilePath, BASE_LIB_DIAG_PATH_SIZE));
        if (FILE* file = fopen(path, "a")) {
            fputs(line, file);
            fclose(file);
        }
    }
    if (settings.Outputs & BASE_LIB_DIAG_TO_CONSOLE)
        printf("%s", line);
    return 1;
}

// Every memory and file operation reports through the diagnostic path under
// the library's category; nothing is produced unless the settings enable it.
#define BASELIB_DIAG(type, ...) BaseLib_DiagMessage(handle, (type), BASE_LIB_DIAG_CATEGORY, __func__, __VA_ARGS__)
#define BASELIB_ENTER() BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s", "(==")
#define BASELIB_LEAVE() BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s", "==)")

int32_t BaseLib_TrimTrailingBlanks(BaseLibHandle handle, char* text, size_t capacity) noexcept
{
    if (!ContextFromHandle(handle) || !text)
        return 0;
    const size_t length = strnlen(text, capacity);
    if (length == capacity)
        return 0;
    for (size_t i = length; i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t'); --i)
        text[i - 1] = '\0';
    return 1;
}

int32_t BaseLib_UpperCase(BaseLibHandle handle, char* text) noexcept
{
    if (!ContextFromHandle(handle) || !text)
        return 0;
    for (char* c = text; *c; ++c)
        *c = static_cast<char>(toupper(static_cast<unsigned char>(*c)));
    return 1;
}

int32_t BaseLib_UpperCaseStrip0x(BaseLibHandle handle, char* text) noexcept
{
    if (!BaseLib_UpperCase(handle, text))
        return 0;
    if (char* prefix = strstr(text, "0X"))
        memmove(text, prefix + 2, strlen(prefix + 2) + 1);
    return 1;
}

int32_t BaseLib_HexToValue(BaseLibHandle handle, const char* text, void* destination, uint32_t size) noexcept
{
    if (!ContextFromHandle(handle) || !text || !destination)
        return 0;
    size &= 0xFF;
    if (size != 1 && size != 2 && size != 4)
        return 0;
    const size_t length = strlen(text);
    auto* digits = static_cast<char*>(malloc(length + 1));
    if (!digits)
        return 0;
    memcpy(digits, text, length + 1);
    BaseLib_UpperCaseStrip0x(handle, digits);

    const size_t count = strlen(digits);
    // Too many digits for the destination: nothing is stored, and that is a
    // failure the caller must be able to see.
    if (count > 2 * size) {
        free(digits);
        return 0;
    }
    uint32_t sum = 0;
    int32_t complete = 1;
    for (size_t i = 0; i < count; ++i) {
        const int digit = HexDigit(digits[i]);
        if (digit < 0) {
            complete = 0;
            break;
        }
        sum += static_cast<uint32_t>(digit) << (4 * (count - 1 - i));
    }
    free(digits);

    if (size == 1) {
        const auto value = static_cast<uint8_t>(sum);
        memcpy(destination, &value, sizeof(value));
    } else if (size == 2) {
        const auto value = static_cast<uint16_t>(sum);
        memcpy(destination, &value, sizeof(value));
    } else {
        memcpy(destination, &sum, sizeof(sum));
    }
    return complete;
}

int32_t BaseLib_SPrintW(BaseLibHandle handle, wchar_t* buffer, size_t bufferSize, const wchar_t* format, ...) noexcept
{
    if (!ContextFromHandle(handle) || !buffer || !format)
        return -1;
    va_list args;
    va_start(args, format);
    const long needed = WideFormattedLength(format, args);
    int32_t written = -1;
    if (needed >= 0 && bufferSize >= static_cast<size_t>(needed) * sizeof(wchar_t) + 8)
        written = vswprintf(buffer, bufferSize / sizeof(wchar_t), format, args);
    va_end(args);
    return written;
}

int32_t BaseLib_PrintW(BaseLibHandle handle, const wchar_t* format, ...) noexcept
{
    if (!ContextFromHandle(handle) || !format)
        return -1;
    va_list args;
    va_start(args, format);
    const long needed = WideFormattedLength(format, args);
    int32_t printed = -1;
    if (needed >= 0) {
        const size_t size = static_cast<size_t>(needed) * sizeof(wchar_t) + 8;
        if (auto* text = static_cast<wchar_t*>(calloc(1, size))) {
            vswprintf(text, size / sizeof(wchar_t), format, args);
            printed = wprintf(L"%ls", text);
            free(text);
        }
    }
    va_end(args);
    return printed;
}

void* BaseLib_MmZeroMem(BaseLibHandle handle, void* block, size_t size) noexcept
{
    if (!ContextFromHandle(handle))
        return nullptr;
    BASELIB_ENTER();
    if (!block) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return nullptr;
    }
    memset(block, 0, size);
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s A memory(0x%p) has been cleared in byte(s).", kPassed, block);
    BASELIB_LEAVE();
    return block;
}

void* BaseLib_MmCopyMem(BaseLibHandle handle, void* destination, const void* source, size_t size) noexcept
{
    if (!ContextFromHandle(handle))
        return nullptr;
    BASELIB_ENTER();
    if (!destination || !source) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return nullptr;
    }
    memmove(destination, source, size);
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s Memory has been copied, Dest(0x%p) <-- Src(0x%p) in %d byte(s).", kPassed,
                 destination, source, static_cast<int>(size));
    BASELIB_LEAVE();
    return destination;
}

int32_t BaseLib_MmCmpMem(BaseLibHandle handle, const void* first, const void* second, size_t size) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    BASELIB_ENTER();
    if (!first || !second) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return 0;
    }
    const auto* a = static_cast<const unsigned char*>(first);
    const auto* b = static_cast<const unsigned char*>(second);
    bool same = true;
    while (same && size >= 4) {
        uint32_t wordA;
        uint32_t wordB;
        memcpy(&wordA, a, 4);
        memcpy(&wordB, b, 4);
        same = wordA == wordB;
        a += 4;
        b += 4;
        size -= 4;
    }
    while (same && size > 0) {
        same = *a++ == *b++;
        --size;
    }
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s Memories are %s.", kPassed, same ? "THE SAME" : "DIFFERENT");
    BASELIB_LEAVE();
    return same ? 1 : 0;
}

void* BaseLib_MmAllocMem(BaseLibHandle handle, size_t size) noexcept
{
    if (!ContextFromHandle(handle))
        return nullptr;
    BASELIB_ENTER();
    void* block = calloc(1, size);
    if (block)
        BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s A memory(0x%p) was allocated in %d byte(s).", kPassed, block,
                     static_cast<int>(size));
    else
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to allocate memory in %d byte(s).", kFailed, static_cast<int>(size));
    BASELIB_LEAVE();
    return block;
}

void* BaseLib_MmAllocMemWithTag(BaseLibHandle handle, size_t size, uintptr_t tag) noexcept
{
    BaseLibContext* context = ContextFromHandle(handle);
    if (!context)
        return nullptr;
    BASELIB_ENTER();
    char tagText[sizeof(uintptr_t) + 1];
    TagToText(tag, tagText);
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "pContext=0X%.8X  iSize=%d  Tag=%s",
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(context)), static_cast<int>(size), tagText);

    auto* info = static_cast<BaseLibTagInfo*>(calloc(1, sizeof(BaseLibTagInfo)));
    if (!info) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to allocate memory in %d byte(s) for pNewAllocTagInfo.", kFailed,
                     static_cast<int>(sizeof(BaseLibTagInfo)));
        BASELIB_LEAVE();
        return nullptr;
    }
    void* block = calloc(1, size);
    if (!block) {
        free(info);
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to alocate memory in %d byte(s) for pNewAllocTagInfo->pAddress.",
                     kFailed, static_cast<int>(size));
        BASELIB_LEAVE();
        return nullptr;
    }
    info->Address = block;
    info->Size = size;
    info->Tag = tag;
    context->ListOps->InsertHead(ListHandle(context), &context->TagList->Link, &info->Link);
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s Memories TagInfo(0x%p) TagInfo.pAddress(0x%p) are allocated", kPassed,
                 static_cast<void*>(info), block);
    BASELIB_LEAVE();
    return block;
}

int32_t BaseLib_MmFreeMem(BaseLibHandle handle, void* block) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    BASELIB_ENTER();
    // Reported just before the release: a freed pointer may not be used, not even printed.
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "A memory(0x%p) has been released.", block);
    free(block);
    BASELIB_LEAVE();
    return 1;
}

int32_t BaseLib_MmFreeMemWithTag(BaseLibHandle handle, void* block) noexcept
{
    BaseLibContext* context = ContextFromHandle(handle);
    if (!context)
        return 0;
    BASELIB_ENTER();
    if (!block) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s), pBuffer is NULL", kFailed);
        BASELIB_LEAVE();
        return 0;
    }
    ListEntry* head = &context->TagList->Link;
    for (ListEntry* node = head->ForwardLink; node != head; node = node->ForwardLink) {
        auto* info = reinterpret_cast<BaseLibTagInfo*>(node);
        if (info->Address != block)
            continue;
        context->ListOps->RemoveEntry(ListHandle(context), node);
        BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s pMmTagInfo->pAddress(0x%p) has been released.", kPassed, block);
        free(info->Address);
        BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%s pMmTagInfo(0x%p) has been released.", kPassed, static_cast<void*>(info));
        free(info);
        BASELIB_LEAVE();
        return 1;
    }
    BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Indicated memory(0x%p) is not found in LinkedList", kFailed, block);
    BASELIB_LEAVE();
    return 0;
}

int32_t BaseLib_MmGetStatus(BaseLibHandle handle, uint32_t) noexcept
{
    return ContextFromHandle(handle) ? 1 : 0;
}

int32_t BaseLib_BitTest(BaseLibHandle handle, uint32_t value, uint32_t bit) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    return static_cast<int32_t>((value >> (bit % 32)) & 1u);
}

int32_t BaseLib_BitTestInverted(BaseLibHandle handle, uint32_t value, uint32_t bit) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    return BaseLib_BitTest(handle, value, bit) ? 0 : 1;
}

bool IsFileHandle(const BaseLibFile* file) noexcept
{
    return file && file->Tag == BASE_LIB_FILE_TAG && file->FileHandler;
}

BaseLibFile* BaseLib_FileOpen(BaseLibHandle handle, const char* path, const char* mode) noexcept
{
    if (!ContextFromHandle(handle))
        return nullptr;
    BASELIB_ENTER();
    if (!path || !mode) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return nullptr;
    }
    FILE* stream = fopen(path, mode);
    if (!stream) {
        BASELIB_LEAVE();
        return nullptr;
    }
    auto* file = static_cast<BaseLibFile*>(BaseLib_MmAllocMemWithTag(handle, sizeof(BaseLibFile), BASE_LIB_FILE_TAG));
    if (!file) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "Failed to allocate memory by BaseLib_MmAllocMemWithTag()");
        fclose(stream);
        BASELIB_DIAG(BASE_LIB_DIAG_INFO, "pFile(0x%p) has been released by fopen().", static_cast<void*>(stream));
        BASELIB_LEAVE();
        return nullptr;
    }
    file->FileHandler = stream;
    file->Tag = BASE_LIB_FILE_TAG;
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "pFileHandle= 0x%p", static_cast<void*>(file));
    BASELIB_LEAVE();
    return file;
}

size_t BaseLib_FileRead(BaseLibHandle handle, void* buffer, size_t size, size_t count, BaseLibFile* file) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    BASELIB_ENTER();
    if (!buffer || size == 0 || count == 0 || !IsFileHandle(file)) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return 0;
    }
    const size_t items = fread(buffer, size, count, file->FileHandler);
    const auto bytes = static_cast<unsigned>(items * size);
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%d(0x%X) byte(s) were read from pFileHandle->pFileHandler(0x%p).",
                 static_cast<int>(bytes), bytes, static_cast<void*>(file->FileHandler));
    BASELIB_LEAVE();
    return items;
}

size_t BaseLib_FileWrite(BaseLibHandle handle, const void* data, size_t size, size_t count, BaseLibFile* file) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    BASELIB_ENTER();
    if (!data || size == 0 || count == 0 || !IsFileHandle(file)) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return 0;
    }
    const size_t items = fwrite(data, size, count, file->FileHandler);
    const auto bytes = static_cast<unsigned>(items * size);
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "%d(0x%X) byte(s) were written from pFileHandle->pFileHandler(0x%p).",
                 static_cast<int>(bytes), bytes, static_cast<void*>(file->FileHandler));
    BASELIB_LEAVE();
    return items;
}

int32_t BaseLib_FileClose(BaseLibHandle handle, BaseLibFile* file) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    BASELIB_ENTER();
    if (!IsFileHandle(file)) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return 0;
    }
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "pFileHandle->pFileHandler(0x%p) is going to release by fclose().",
                 static_cast<void*>(file->FileHandler));
    const bool closed = fclose(file->FileHandler) == 0;
    file->FileHandler = nullptr;
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "pFileHandle(0x%p) is going to release by free().", static_cast<void*>(file));
    BaseLib_MmFreeMemWithTag(handle, file);
    BASELIB_LEAVE();
    return closed ? 1 : 0;
}

long BaseLib_FileLength(BaseLibHandle handle, BaseLibFile* file) noexcept
{
    if (!ContextFromHandle(handle))
        return 0;
    BASELIB_ENTER();
    if (!IsFileHandle(file)) {
        BASELIB_DIAG(BASE_LIB_DIAG_ERRO, "%s Failed to check input parameter(s).", kFailed);
        BASELIB_LEAVE();
        return 0;
    }
    long length = -1;
    if (fseek(file->FileHandler, 0, SEEK_END) == 0)
        length = ftell(file->FileHandler);
    rewind(file->FileHandler);
    BASELIB_DIAG(BASE_LIB_DIAG_INFO, "The file length of pFileHandle(0x%p)= %d(0xX)", static_cast<void*>(file),
                 static_cast<int>(length));
    BASELIB_LEAVE();
    return length;
}

void FreeSubRecords(BaseLibContext* context) noexcept
{
    free(context->DiagSettings);
    free(context->TagList);
    free(context->Reserved);
    free(context->ListOps);
    context->DiagSettings = nullptr;
    context->TagList = nullptr;
    context->Reserved = nullptr;
    context->ListOps = nullptr;
}

}  // namespace

int32_t BaseLib_Initialize(BaseLibContext* context) noexcept
{
    if (!context || context->Initialized)
        return 0;
    context->DiagSettings = static_cast<BaseLibDiagSettings*>(calloc(1, sizeof(BaseLibDiagSettings)));
    context->TagList = static_cast<BaseLibTagInfo*>(calloc(1, sizeof(BaseLibTagInfo)));
    context->Reserved = static_cast<BaseLibReserved*>(calloc(1, sizeof(BaseLibReserved)));
    context->ListOps = static_cast<LinkedListOperations*>(calloc(1, sizeof(LinkedListOperations)));
    if (!context->DiagSettings || !context->TagList || !context->Reserved || !context->ListOps ||
        !LinkedList_Initialize(context->ListOps)) {
        FreeSubRecords(context);
        return 0;
    }
    context->ListOps->InitializeHead(ListHandle(context), &context->TagList->Link);

    BaseLibOperations& ops = context->Ops;
    ops.InstanceCount = BaseLib_InstanceCount;
    ops.Print = BaseLib_Print;
    ops.SPrint = BaseLib_SPrint;
    ops.VSPrint = BaseLib_VSPrint;
    ops.FilePrint = BaseLib_FilePrint;
    ops.VPrint = BaseLib_VPrint;
    ops.DiagMessage = BaseLib_DiagMessage;
    ops.TrimTrailingBlanks = BaseLib_TrimTrailingBlanks;
    ops.UpperCase = BaseLib_UpperCase;
    ops.UpperCaseStrip0x = BaseLib_UpperCaseStrip0x;
    ops.HexToValue = BaseLib_HexToValue;
    ops.PrintW = BaseLib_PrintW;
    ops.SPrintW = BaseLib_SPrintW;
    ops.FileOpen = BaseLib_FileOpen;
    ops.FileRead = BaseLib_FileRead;
    ops.FileWrite = BaseLib_FileWrite;
    ops.FileClose = BaseLib_FileClose;
    ops.FileLength = BaseLib_FileLength;
    ops.FileAppendString = BaseLib_FileAppendString;
    ops.MmZeroMem = BaseLib_MmZeroMem;
    ops.MmCopyMem = BaseLib_MmCopyMem;
    ops.MmCmpMem = BaseLib_MmCmpMem;
    ops.MmAllocMem = BaseLib_MmAllocMem;
    ops.MmAllocMemWithTag = BaseLib_MmAllocMemWithTag;
    ops.MmFreeMem = BaseLib_MmFreeMem;
    ops.MmFreeMemWithTag = BaseLib_MmFreeMemWithTag;
    ops.MmGetStatus = BaseLib_MmGetStatus;
    ops.BitTest = BaseLib_BitTest;
    ops.BitTestInverted = BaseLib_BitTestInverted;
    context->Signature = BASE_LIB_SIGNATURE;
    context->Initialized = 1;
    ++g_baseLibInstances;
    return 1;
}

void BaseLib_Uninitialize(BaseLibContext* context) noexcept
{
    if (!context || !context->Initialized)
        return;
    --g_baseLibInstances;
    const LinkedListHandle list = ListHandle(context);
    ListEntry* head = &context->TagList->Link;
    while (!context->ListOps->IsEmpty(list, head)) {
        auto* info = reinterpret_cast<BaseLibTagInfo*>(context->ListOps->RemoveTail(list, head));
        free(info->Address);
        free(info);
    }
    LinkedList_Uninitialize(context->ListOps);
    FreeSubRecords(context);
    memset(context, 0, sizeof(*context));
}
