#include "switcher/lang/lang_choice.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kPrimaryLanguageMask = 0x3FF;

uint16_t HexText(BaseLibContext* library, const char* text) noexcept
{
    uint16_t value = 0;
    (void)library->Ops.HexToValue(BaseLib_Handle(library), text, &value, sizeof(value));
    return value;
}

void ReadSupportedLanguages(BaseLibContext* library, char* list, LangStrings& record) noexcept
{
    int taken = 0;
    for (char* piece = list; piece && taken < LANG_SUPPORTED_MAX; ++taken) {
        char* comma = strchr(piece, ',');
        if (comma)
            *comma = '\0';
        record.SupportedLanguages[taken] = HexText(library, piece);
        piece = comma ? comma + 1 : nullptr;
    }
}

// The first section of the language whose CUSTOMIZED_STRING reads as the
// wanted number; sections without both keys are not language sections.
int32_t FindLanguageSection(IniParser* parser, BaseLibContext* library, uint16_t language, int customized) noexcept
{
    const IniParserHandle handle = IniParser_Handle(parser);
    const int32_t count = parser->Ops.SectionCount(handle);
    char customizedText[INI_LINE_SIZE];
    char identifierText[INI_LINE_SIZE];
    for (int32_t id = 0; id < count; ++id) {
        if (!ReadIniValue(parser, id, "CUSTOMIZED_STRING", customizedText) ||
            !ReadIniValue(parser, id, "LANG_ID_IDENTIFIER", identifierText))
            continue;
        if (HexText(library, identifierText) == language && atoi(customizedText) == customized)
            return id;
    }
    return LANG_NO_SECTION;
}

uint32_t ReadFlag(IniParser* parser, int32_t sectionId, const char* key) noexcept
{
    char value[INI_LINE_SIZE];
    return (ReadIniValue(parser, sectionId, key, value) && atoi(value) != 0) ? 1 : 0;
}

}  // namespace

uint16_t ChooseLanguage(uint16_t languageIdentifier, const uint32_t (&supported)[LANG_SUPPORTED_MAX],
                        uint32_t systemDefaultLcid) noexcept
{
    if (languageIdentifier != 0)
        return languageIdentifier;
    for (uint32_t entry : supported) {
        if (entry == 0)
            break;
        if (entry == systemDefaultLcid)
            return static_cast<uint16_t>(entry);
    }
    for (uint32_t entry : supported) {
        if ((entry & kPrimaryLanguageMask) == (systemDefaultLcid & kPrimaryLanguageMask))
            return entry != 0 ? static_cast<uint16_t>(entry) : LANG_FALLBACK;
    }
    return LANG_FALLBACK;
}

LanguageSections ReadLanguageSettings(IniParser* parser, BaseLibContext* library, uint32_t systemDefaultLcid,
                                      LangStrings& record) noexcept
{
    LanguageSections sections{LANG_NO_SECTION, LANG_NO_SECTION};
    memset(record.SupportedLanguages, 0, sizeof(record.SupportedLanguages));
    const IniParserHandle handle = IniParser_Handle(parser);
    char value[INI_LINE_SIZE];

    if (const IniSection* general = parser->Ops.FindSectionByName(handle, "GENERAL")) {
        if (ReadIniValue(parser, general->Id, "LanguageIdentifier", value))
            record.LanguageIdentifier = HexText(library, value);
        if (ReadIniValue(parser, general->Id, "LanguageSupportsList", value))
            ReadSupportedLanguages(library, value, record);
    }

    const uint16_t language = ChooseLanguage(record.LanguageIdentifier, record.SupportedLanguages, systemDefaultLcid);
    sections.BaseId = FindLanguageSection(parser, library, language, 0);
    if (sections.BaseId != LANG_NO_SECTION) {
        record.Found = 1;
        sections.CustomizedId = FindLanguageSection(parser, library, language, 1);
    }

    if (const IniSection* installation = parser->Ops.FindSectionByName(handle, "INSTALLATION")) {
        record.SilenceMode = ReadFlag(parser, installation->Id, "SilenceMode");
        record.RebootAfterInstallation = ReadFlag(parser, installation->Id, "RebootAfterInstallation");
    }
    return sections;
}
