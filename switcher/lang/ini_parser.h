// INI text parser as a table of operations. Every operation takes the
// parser's handle (the address of its Signature field) first and reports 0 or
// null on a missing parser or argument. Sections and keys keep text order;
// sections with the same name stay distinct by id.
#pragma once

#include "switcher/baselib/base_lib.h"

#include <cstdint>

constexpr uint32_t INI_PARSER_SIGNATURE = 0x50696E49;  // "IniP" as bytes
// Lines, section names, keys and values each fit in this many bytes,
// terminator included; a longer line is skipped whole.
constexpr size_t INI_LINE_SIZE = 2048;

struct IniKey {
    ListEntry Link;
    int32_t Index;      // 0 for the first key after its header
    int32_t SectionId;
    char* Name;         // as written, trailing blanks included
    uint32_t NameSize;  // length + 1
    char* Value;        // "\r" and "\n" escapes replaced
    uint32_t ValueSize; // length + 1, 0 for an empty value
};

struct IniSection {
    ListEntry Link;
    ListEntry Keys;
    int32_t Id;  // 0 for the first header, then +1 per header
    char* Name;
    uint32_t NameSize;
};

using IniParserHandle = uint32_t*;

struct IniParserOperations {
    int32_t (*InstanceCount)(IniParserHandle handle) noexcept;
    int32_t (*IsEmpty)(IniParserHandle handle) noexcept;
    int32_t (*ParseText)(IniParserHandle handle, const char* text) noexcept;
    int32_t (*LoadFile)(IniParserHandle handle, const char* path) noexcept;
    int32_t (*SectionCount)(IniParserHandle handle) noexcept;
    int32_t (*KeyCount)(IniParserHandle handle, int32_t sectionId) noexcept;
    IniSection* (*FindSectionById)(IniParserHandle handle, int32_t sectionId) noexcept;
    IniSection* (*FindSectionByName)(IniParserHandle handle, const char* name) noexcept;
    IniKey* (*FindKeyByIndex)(IniParserHandle handle, int32_t sectionId, int32_t keyIndex) noexcept;
    // The first key whose name is the given name, followed by nothing but blanks.
    IniKey* (*FindKeyByName)(IniParserHandle handle, int32_t sectionId, const char* name) noexcept;
    // Size query and copy: a null buffer with *size 0 stores the required size;
    // otherwise the buffer must hold the required size.
    int32_t (*GetKeyName)(IniParserHandle handle, int32_t sectionId, int32_t keyIndex, char* buffer,
                          uint32_t* size) noexcept;
    int32_t (*GetValue)(IniParserHandle handle, int32_t sectionId, const char* keyName, char* buffer,
                        uint32_t* size) noexcept;
};

struct IniParser {
    uint32_t Initialized;
    IniParserOperations Ops;
    uint32_t Signature;
    BaseLibContext BaseLib;
    LinkedListOperations ListOps;
    ListEntry Sections;
};

[[nodiscard]] int32_t IniParser_Initialize(IniParser* parser) noexcept;
// Frees every key and section, then the parser's own library context.
void IniParser_Uninitialize(IniParser* parser) noexcept;

inline IniParserHandle IniParser_Handle(IniParser* parser) noexcept
{
    return parser ? &parser->Signature : nullptr;
}

// Copies the value of a key of a section; false when the key is missing or
// its value does not fit.
[[nodiscard]] bool ReadIniValue(IniParser* parser, int32_t sectionId, const char* key,
                                char (&value)[INI_LINE_SIZE]) noexcept;
