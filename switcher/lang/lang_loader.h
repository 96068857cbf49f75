// Loading the language strings: the program's LoadLanguageStrings over the
// process-wide parser and support library, and the same with a given parser
// and library, so tests can load from texts and locales of their own.
#pragma once

#include "switcher/baselib/base_lib.h"
#include "switcher/lang/ini_parser.h"
#include "switcher/lang/lang_strings.h"

#include <cstdint>

// Parses iniText into the (initialised) parser and fills the record; the
// strings are plain allocations of the library and are never freed.
void LoadLanguageStringsFrom(IniParser* parser, BaseLibContext* library, const char* iniText,
                             uint32_t systemDefaultLcid, LangStrings& record) noexcept;

// Parses the embedded language INI text and fills g_LangStrings for the given
// system default locale (the program passes GetSystemDefaultLCID()).
void LoadLanguageStrings(uint32_t systemDefaultLcid) noexcept;
