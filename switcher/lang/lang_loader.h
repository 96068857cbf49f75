// Loading the language strings with a given parser and support library, so
// tests can load from texts and locales of their own. The program uses
// LoadLanguageStrings (lang_strings.h), which works on the process-wide ones.
#pragma once

#include "switcher/baselib/base_lib.h"
#include "switcher/lang/ini_parser.h"
#include "switcher/lang/lang_strings.h"

#include <cstdint>

// Parses iniText into the (initialised) parser and fills the record; the
// strings are plain allocations of the library and are never freed.
void LoadLanguageStringsFrom(IniParser* parser, BaseLibContext* library, const char* iniText,
                             uint32_t systemDefaultLcid, LangStrings& record) noexcept;
