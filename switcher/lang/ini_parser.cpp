#include "switcher/lang/ini_parser.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

namespace {

int32_t g_iniParserInstances = 0;

const unsigned char kUtf8ByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

IniParser* ParserFromHandle(IniParserHandle handle) noexcept
{
    if (!handle || *handle != INI_PARSER_SIGNATURE)
        return nullptr;
    auto* parser = reinterpret_cast<IniParser*>(reinterpret_cast<char*>(handle) - offsetof(IniParser, Signature));
    return (parser->Initialized && parser->ListOps.Initialized) ? parser : nullptr;
}

BaseLibHandle LibHandle(IniParser* parser) noexcept
{
    return BaseLib_Handle(&parser->BaseLib);
}

LinkedListHandle ListHandle(IniParser* parser) noexcept
{
    return LinkedList_Handle(&parser->ListOps);
}

int32_t CountEntries(const ListEntry* head) noexcept
{
    int32_t count = 0;
    for (const ListEntry* node = head->ForwardLink; node != head; node = node->ForwardLink)
        ++count;
    return count;
}

char* CopyText(IniParser* parser, const char* text, size_t length) noexcept
{
    auto* copy = static_cast<char*>(parser->BaseLib.Ops.MmAllocMem(LibHandle(parser), length + 1));
    if (copy)
        parser->BaseLib.Ops.MmCopyMem(LibHandle(parser), copy, text, length);
    return copy;
}

// "\r" first, then "\n", each as backslash and letter.
void ReplaceEscapes(char* value) noexcept
{
    for (const char* escape : {"\\r", "\\n"}) {
        const char replacement = escape[1] == 'r' ? '\r' : '\n';
        char* out = value;
        for (const char* in = value; *in;) {
            if (in[0] == escape[0] && in[1] == escape[1]) {
                *out++ = replacement;
                in += 2;
            } else {
                *out++ = *in++;
            }
        }
        *out = '\0';
    }
}

IniSection* AddSection(IniParser* parser, const char* name, size_t length) noexcept
{
    const BaseLibOperations& lib = parser->BaseLib.Ops;
    auto* section = static_cast<IniSection*>(lib.MmAllocMem(LibHandle(parser), sizeof(IniSection)));
    if (!section)
        return nullptr;
    section->Name = CopyText(parser, name, length);
    if (!section->Name) {
        lib.MmFreeMem(LibHandle(parser), section);
        return nullptr;
    }
    section->NameSize = static_cast<uint32_t>(length + 1);
    section->Id = CountEntries(&parser->Sections);
    parser->ListOps.InitializeHead(ListHandle(parser), &section->Keys);
    parser->ListOps.InsertTail(ListHandle(parser), &parser->Sections, &section->Link);
    return section;
}

void AddKey(IniParser* parser, IniSection* section, const char* name, size_t nameLength, const char* value,
            size_t valueLength) noexcept
{
    const BaseLibOperations& lib = parser->BaseLib.Ops;
    auto* key = static_cast<IniKey*>(lib.MmAllocMem(LibHandle(parser), sizeof(IniKey)));
    if (!key)
        return;
    key->Name = CopyText(parser, name, nameLength);
    key->Value = CopyText(parser, value, valueLength);
    if (!key->Name || !key->Value) {
        lib.MmFreeMem(LibHandle(parser), key->Name);
        lib.MmFreeMem(LibHandle(parser), key->Value);
        lib.MmFreeMem(LibHandle(parser), key);
        return;
    }
    ReplaceEscapes(key->Value);
    const size_t storedLength = strlen(key->Value);
    key->NameSize = static_cast<uint32_t>(nameLength + 1);
    key->ValueSize = storedLength ? static_cast<uint32_t>(storedLength + 1) : 0;
    key->Index = CountEntries(&section->Keys);
    key->SectionId = section->Id;
    parser->ListOps.InsertTail(ListHandle(parser), &section->Keys, &key->Link);
}

bool IsKeyCharacter(char c) noexcept
{
    return c != '\0' && c != '=' && c != ';' && c != '#' && c != '^';
}

bool IsValueCharacter(char c) noexcept
{
    return c != '\0' && c != '\n' && c != '#' && c != ';';
}

// One line without its line feed. Returns the section that later keys belong
// to: a new one for a header, otherwise the current one.
IniSection* ParseLine(IniParser* parser, IniSection* current, const char* line) noexcept
{
    if (line[0] == '[') {
        const char* name = line + 1;
        const char* close = strchr(name, ']');
        const size_t length = close ? static_cast<size_t>(close - name) : strlen(name);
        return AddSection(parser, name, length);
    }
    // The key is everything before "=", ";", "#" or "^", blanks included; a
    // line starting with one of those (or empty) holds no key.
    size_t keyLength = 0;
    while (IsKeyCharacter(line[keyLength]))
        ++keyLength;
    if (keyLength == 0 || !current)
        return current;

    const char* value = line + keyLength;
    size_t valueLength = 0;
    if (*value == '=') {
        ++value;
        while (*value && isspace(static_cast<unsigned char>(*value)))
            ++value;
        while (IsValueCharacter(value[valueLength]))
            ++valueLength;
    }
    AddKey(parser, current, line, keyLength, value, valueLength);
    return current;
}

IniSection* SectionById(IniParser* parser, int32_t sectionId) noexcept
{
    for (ListEntry* node = parser->Sections.ForwardLink; node != &parser->Sections; node = node->ForwardLink) {
        auto* section = reinterpret_cast<IniSection*>(node);
        if (section->Id == sectionId)
            return section;
    }
    return nullptr;
}

bool OnlyBlanks(const char* text) noexcept
{
    for (; *text; ++text) {
        if (*text != ' ' && *text != '\t')
            return false;
    }
    return true;
}

IniKey* KeyByName(IniParser* parser, int32_t sectionId, const char* name) noexcept
{
    IniSection* section = SectionById(parser, sectionId);
    if (!section)
        return nullptr;
    const size_t length = strlen(name);
    for (ListEntry* node = section->Keys.ForwardLink; node != &section->Keys; node = node->ForwardLink) {
        auto* key = reinterpret_cast<IniKey*>(node);
        // Key names are stored as written, padded with blanks up to the "=";
        // only the padding may follow, or "BTN_TEXT_O" would find "BTN_TEXT_OK".
        if (strncmp(key->Name, name, length) == 0 && OnlyBlanks(key->Name + length))
            return key;
    }
    return nullptr;
}

int32_t SizeQueryAndCopy(const char* source, uint32_t required, char* buffer, uint32_t* size) noexcept
{
    if (!size)
        return 0;
    if (!buffer) {
        if (*size != 0)
            return 0;
        *size = required;
        return 1;
    }
    if (*size < required)
        return 0;
    if (required)
        memcpy(buffer, source, required);
    else if (*size > 0)
        buffer[0] = '\0';  // an empty value leaves no stale text behind
    *size = required;
    return 1;
}

int32_t IniParser_InstanceCount(IniParserHandle handle) noexcept
{
    return ParserFromHandle(handle) ? g_iniParserInstances : 0;
}

int32_t IniParser_IsEmpty(IniParserHandle handle) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    if (!parser)
        return 0;
    return parser->ListOps.IsEmpty(ListHandle(parser), &parser->Sections);
}

int32_t IniParser_ParseText(IniParserHandle handle, const char* text) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    if (!parser || !text)
        return 0;
    const char* position = text;
    if (strnlen(text, sizeof(kUtf8ByteOrderMark)) == sizeof(kUtf8ByteOrderMark) &&
        parser->BaseLib.Ops.MmCmpMem(LibHandle(parser), text, kUtf8ByteOrderMark, sizeof(kUtf8ByteOrderMark)))
        position += sizeof(kUtf8ByteOrderMark);

    IniSection* current = nullptr;
    char line[INI_LINE_SIZE];
    while (*position) {
        const char* end = strchr(position, '\n');
        if (!end)
            end = position + strlen(position);
        const auto length = static_cast<size_t>(end - position);
        if (length < sizeof(line)) {
            memcpy(line, position, length);
            line[length] = '\0';
            current = ParseLine(parser, current, line);
        }
        position = *end ? end + 1 : end;
    }
    return 1;
}

int32_t IniParser_LoadFile(IniParserHandle handle, const char* path) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    if (!parser || !path)
        return 0;
    const BaseLibOperations& lib = parser->BaseLib.Ops;
    BaseLibFile* file = lib.FileOpen(LibHandle(parser), path, "r");
    if (!file)
        return 0;
    int32_t result = 0;
    const long length = lib.FileLength(LibHandle(parser), file);
    if (length >= 0) {
        auto* text = static_cast<char*>(lib.MmAllocMem(LibHandle(parser), static_cast<size_t>(length) + 8));
        if (text) {
            const size_t read = lib.FileRead(LibHandle(parser), text, 1, static_cast<size_t>(length), file);
            text[read] = '\n';
            result = IniParser_ParseText(handle, text);
            lib.MmFreeMem(LibHandle(parser), text);
        }
    }
    lib.FileClose(LibHandle(parser), file);
    return result;
}

int32_t IniParser_SectionCount(IniParserHandle handle) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    return parser ? CountEntries(&parser->Sections) : 0;
}

int32_t IniParser_KeyCount(IniParserHandle handle, int32_t sectionId) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    IniSection* section = parser ? SectionById(parser, sectionId) : nullptr;
    return section ? CountEntries(&section->Keys) : 0;
}

IniSection* IniParser_FindSectionById(IniParserHandle handle, int32_t sectionId) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    return parser ? SectionById(parser, sectionId) : nullptr;
}

IniSection* IniParser_FindSectionByName(IniParserHandle handle, const char* name) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    if (!parser || !name)
        return nullptr;
    for (ListEntry* node = parser->Sections.ForwardLink; node != &parser->Sections; node = node->ForwardLink) {
        auto* section = reinterpret_cast<IniSection*>(node);
        if (strcmp(section->Name, name) == 0)
            return section;
    }
    return nullptr;
}

IniKey* IniParser_FindKeyByIndex(IniParserHandle handle, int32_t sectionId, int32_t keyIndex) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    IniSection* section = parser ? SectionById(parser, sectionId) : nullptr;
    if (!section)
        return nullptr;
    for (ListEntry* node = section->Keys.ForwardLink; node != &section->Keys; node = node->ForwardLink) {
        auto* key = reinterpret_cast<IniKey*>(node);
        if (key->Index == keyIndex)
            return key;
    }
    return nullptr;
}

IniKey* IniParser_FindKeyByName(IniParserHandle handle, int32_t sectionId, const char* name) noexcept
{
    IniParser* parser = ParserFromHandle(handle);
    if (!parser || !name)
        return nullptr;
    return KeyByName(parser, sectionId, name);
}

int32_t IniParser_GetKeyName(IniParserHandle handle, int32_t sectionId, int32_t keyIndex, char* buffer,
                             uint32_t* size) noexcept
{
    const IniKey* key = IniParser_FindKeyByIndex(handle, sectionId, keyIndex);
    if (!key)
        return 0;
    return SizeQueryAndCopy(key->Name, key->NameSize, buffer, size);
}

int32_t IniParser_GetValue(IniParserHandle handle, int32_t sectionId, const char* keyName, char* buffer,
                           uint32_t* size) noexcept
{
    const IniKey* key = IniParser_FindKeyByName(handle, sectionId, keyName);
    if (!key)
        return 0;
    return SizeQueryAndCopy(key->Value, key->ValueSize, buffer, size);
}

}  // namespace

int32_t IniParser_Initialize(IniParser* parser) noexcept
{
    if (!parser || parser->Initialized)
        return 0;
    if (!BaseLib_Initialize(&parser->BaseLib))
        return 0;
    if (!LinkedList_Initialize(&parser->ListOps)) {
        BaseLib_Uninitialize(&parser->BaseLib);
        return 0;
    }
    parser->ListOps.InitializeHead(ListHandle(parser), &parser->Sections);
    IniParserOperations& ops = parser->Ops;
    ops.InstanceCount = IniParser_InstanceCount;
    ops.IsEmpty = IniParser_IsEmpty;
    ops.ParseText = IniParser_ParseText;
    ops.LoadFile = IniParser_LoadFile;
    ops.SectionCount = IniParser_SectionCount;
    ops.KeyCount = IniParser_KeyCount;
    ops.FindSectionById = IniParser_FindSectionById;
    ops.FindSectionByName = IniParser_FindSectionByName;
    ops.FindKeyByIndex = IniParser_FindKeyByIndex;
    ops.FindKeyByName = IniParser_FindKeyByName;
    ops.GetKeyName = IniParser_GetKeyName;
    ops.GetValue = IniParser_GetValue;
    parser->Signature = INI_PARSER_SIGNATURE;
    parser->Initialized = 1;
    ++g_iniParserInstances;
    return 1;
}

void IniParser_Uninitialize(IniParser* parser) noexcept
{
    if (!parser || !parser->Initialized)
        return;
    --g_iniParserInstances;
    const BaseLibOperations& lib = parser->BaseLib.Ops;
    const BaseLibHandle libHandle = LibHandle(parser);
    const LinkedListHandle list = ListHandle(parser);
    while (ListEntry* sectionNode = parser->ListOps.RemoveHead(list, &parser->Sections)) {
        auto* section = reinterpret_cast<IniSection*>(sectionNode);
        while (ListEntry* keyNode = parser->ListOps.RemoveHead(list, &section->Keys)) {
            auto* key = reinterpret_cast<IniKey*>(keyNode);
            lib.MmFreeMem(libHandle, key->Name);
            lib.MmFreeMem(libHandle, key->Value);
            lib.MmFreeMem(libHandle, key);
        }
        lib.MmFreeMem(libHandle, section->Name);
        lib.MmFreeMem(libHandle, section);
    }
    BaseLib_Uninitialize(&parser->BaseLib);
    LinkedList_Uninitialize(&parser->ListOps);
    memset(parser, 0, sizeof(*parser));
}

bool ReadIniValue(IniParser* parser, int32_t sectionId, const char* key, char (&value)[INI_LINE_SIZE]) noexcept
{
    const IniParserHandle handle = IniParser_Handle(parser);
    uint32_t size = 0;
    if (!parser->Ops.GetValue(handle, sectionId, key, nullptr, &size) || size > sizeof(value))
        return false;
    size = sizeof(value);
    value[0] = '\0';
    return parser->Ops.GetValue(handle, sectionId, key, value, &size) != 0;
}
