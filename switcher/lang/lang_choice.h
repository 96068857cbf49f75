// Choosing the switcher's language from the language INI text: the settings
// of [GENERAL] and [INSTALLATION], the language for a system locale and the
// base and customized sections of that language. Windows-free.
#pragma once

#include "switcher/baselib/base_lib.h"
#include "switcher/lang/ini_parser.h"
#include "switcher/lang/lang_strings.h"

#include <cstdint>

constexpr uint16_t LANG_FALLBACK = 0x0409;
constexpr int32_t LANG_NO_SECTION = -1;

struct LanguageSections {
    int32_t BaseId;        // LANG_NO_SECTION when the language has no base section
    int32_t CustomizedId;  // LANG_NO_SECTION when there is none, or no base section
};

// The identifier when set; else the supported entry equal to the LCID; else
// the first entry of the same primary language; else 0x0409.
[[nodiscard]] uint16_t ChooseLanguage(uint16_t languageIdentifier, const uint32_t (&supported)[LANG_SUPPORTED_MAX],
                                      uint32_t systemDefaultLcid) noexcept;

// With the INI text already parsed: fills the record's language identifier,
// supported list, Found and the two installation flags, and returns the
// sections whose strings are to be loaded, base first.
[[nodiscard]] LanguageSections ReadLanguageSettings(IniParser* parser, BaseLibContext* library,
                                                    uint32_t systemDefaultLcid, LangStrings& record) noexcept;
