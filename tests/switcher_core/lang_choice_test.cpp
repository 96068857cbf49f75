#include "switcher/lang/lang_choice.h"
#include "switcher/lang/language_ini.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

class LanguageChoiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(1, BaseLib_Initialize(&m_library));
        ASSERT_EQ(1, IniParser_Initialize(&m_parser));
    }
    void TearDown() override
    {
        IniParser_Uninitialize(&m_parser);
        BaseLib_Uninitialize(&m_library);
    }

    LanguageSections Choose(uint32_t lcid, const char* text = g_LanguageIniText)
    {
        EXPECT_EQ(1, m_parser.Ops.ParseText(IniParser_Handle(&m_parser), text));
        return ReadLanguageSettings(&m_parser, &m_library, lcid, m_record);
    }

    std::string Value(int32_t sectionId, LangStringSlot slot)
    {
        char value[INI_LINE_SIZE];
        return ReadIniValue(&m_parser, sectionId, g_LangStringKeys[slot], value) ? value : "<missing>";
    }

    std::string SectionName(int32_t sectionId)
    {
        const IniSection* section = m_parser.Ops.FindSectionById(IniParser_Handle(&m_parser), sectionId);
        return section ? section->Name : "<none>";
    }

    BaseLibContext m_library{};
    IniParser m_parser{};
    LangStrings m_record{};
};

TEST(ChooseLanguage, IdentifierWinsOverTheLocale)
{
    const uint32_t supported[LANG_SUPPORTED_MAX] = {0x0409, 0x0804};
    EXPECT_EQ(0x0411, ChooseLanguage(0x0411, supported, 0x0804));
}

TEST(ChooseLanguage, ExactWalkStopsAtTheFirstEmptyEntry)
{
    const uint32_t supported[LANG_SUPPORTED_MAX] = {0x0409, 0, 0x0C04, 0x0404};
    // 0x0404 lies after the empty entry: only the primary-language walk,
    // which takes every entry, reaches an entry, and 0x0C04 comes first.
    EXPECT_EQ(0x0C04, ChooseLanguage(0, supported, 0x0404));
}

TEST(ChooseLanguage, PrimaryLanguageAndFallback)
{
    const uint32_t supported[LANG_SUPPORTED_MAX] = {0x0409, 0x0404, 0x0804, 0x0411};
    EXPECT_EQ(0x0804, ChooseLanguage(0, supported, 0x0804));
    EXPECT_EQ(0x0404, ChooseLanguage(0, supported, 0x0C04));
    EXPECT_EQ(0x0409, ChooseLanguage(0, supported, 0x0809));
    EXPECT_EQ(0x0409, ChooseLanguage(0, supported, 0x0412));
    // Only empty entries share primary language 0 with a neutral locale.
    EXPECT_EQ(0x0409, ChooseLanguage(0, supported, 0x0400));
}

TEST_F(LanguageChoiceTest, GeneralAndInstallationSettingsAreRead)
{
    Choose(0x0409);
    EXPECT_EQ(0, m_record.LanguageIdentifier);
    const std::vector<uint32_t> expected = {0x0409, 0x0404, 0x0804, 0x0411};
    for (int i = 0; i < LANG_SUPPORTED_MAX; ++i)
        EXPECT_EQ(i < 4 ? expected[i] : 0u, m_record.SupportedLanguages[i]) << "entry " << i;
    EXPECT_EQ(1u, m_record.SilenceMode);
    EXPECT_EQ(0u, m_record.RebootAfterInstallation);
}

TEST_F(LanguageChoiceTest, SimplifiedChineseLocaleTakesItsBaseAndCustomizedSections)
{
    const LanguageSections sections = Choose(0x0804);
    EXPECT_EQ(1u, m_record.Found);
    EXPECT_EQ(8, sections.BaseId);
    EXPECT_EQ(3, sections.CustomizedId);
    EXPECT_EQ("LANGUAGE_ZH-CN", SectionName(sections.BaseId));
    EXPECT_EQ("即将切换到 Android 操作系统。", Value(sections.CustomizedId, OSSWITCHER_IDS_SWITCH_CONTINUE));
    EXPECT_EQ("取消", Value(sections.BaseId, BTN_TEXT_CANCEL));
}

TEST_F(LanguageChoiceTest, HongKongLocaleFallsBackToTraditionalChinese)
{
    const LanguageSections sections = Choose(0x0C04);
    EXPECT_EQ(7, sections.BaseId);
    EXPECT_EQ(4, sections.CustomizedId);
    EXPECT_EQ("LANGUAGE_ZH-TW", SectionName(sections.BaseId));
}

TEST_F(LanguageChoiceTest, KoreanLocaleIsNotSupportedAndGivesEnglish)
{
    const LanguageSections sections = Choose(0x0412);
    EXPECT_EQ(6, sections.BaseId);
    EXPECT_EQ(2, sections.CustomizedId);
    EXPECT_EQ("Going to switch to android OS.", Value(sections.CustomizedId, OSSWITCHER_IDS_SWITCH_CONTINUE));
    EXPECT_EQ("Going to switch to another OS.", Value(sections.BaseId, OSSWITCHER_IDS_SWITCH_CONTINUE));
}

TEST_F(LanguageChoiceTest, LanguageIdentifierForcesJapanese)
{
    std::string text = g_LanguageIniText;
    const std::string empty = "LanguageIdentifier                      =\n";
    const size_t at = text.find(empty);
    ASSERT_NE(std::string::npos, at);
    text.replace(at, empty.size(), "LanguageIdentifier                      =0x0411\n");
    const LanguageSections sections = Choose(0x0804, text.c_str());
    EXPECT_EQ(0x0411, m_record.LanguageIdentifier);
    EXPECT_EQ(9, sections.BaseId);
    EXPECT_EQ(5, sections.CustomizedId);
}

TEST_F(LanguageChoiceTest, LanguageWithoutBaseSectionLoadsNothing)
{
    const LanguageSections sections = Choose(0x0409,
                                             "[GENERAL]\nLanguageSupportsList=0x0409\n"
                                             "[LANGUAGE_EN]\nCUSTOMIZED_STRING=1\nLANG_ID_IDENTIFIER=0x0409\n");
    EXPECT_EQ(0u, m_record.Found);
    EXPECT_EQ(LANG_NO_SECTION, sections.BaseId);
    EXPECT_EQ(LANG_NO_SECTION, sections.CustomizedId);
    EXPECT_EQ(0u, m_record.SilenceMode);
}

TEST_F(LanguageChoiceTest, SupportedListKeepsAtMostThirtyTwoEntries)
{
    std::string text = "[GENERAL]\nLanguageSupportsList=";
    for (int i = 1; i <= 40; ++i)
        text += (i > 1 ? ", 0x" : "0x") + std::to_string(1000 + i);
    text += "\n";
    Choose(0x0409, text.c_str());
    EXPECT_EQ(0x1001u, m_record.SupportedLanguages[0]);
    EXPECT_EQ(0x1032u, m_record.SupportedLanguages[31]);
}

// The embedded text itself: layout and the texts the switcher shows.
TEST_F(LanguageChoiceTest, EmbeddedTextLayout)
{
    const std::string text = g_LanguageIniText;
    EXPECT_NE('\xEF', text[0]);
    EXPECT_EQ(std::string::npos, text.find('\r'));
    std::istringstream lines(text);
    std::vector<std::string> headers;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            headers.push_back(line);
            continue;
        }
        ASSERT_GE(line.size(), 41u) << line;
        EXPECT_EQ('=', line[40]) << line;
        if (line.size() > 41) {
            EXPECT_NE(' ', line[41]) << "the value follows \"=\" directly: " << line;
        }
        EXPECT_EQ(std::string::npos, line.find_first_of(";#", 41)) << line;
    }
    const std::vector<std::string> expected = {
        "[GENERAL]",     "[INSTALLATION]",   "[LANGUAGE_EN]",    "[LANGUAGE_ZH-CN]", "[LANGUAGE_ZH-TW]",
        "[LANGUAGE_JP]", "[LANGUAGE_EN]",    "[LANGUAGE_ZH-TW]", "[LANGUAGE_ZH-CN]", "[LANGUAGE_JP]"};
    EXPECT_EQ(expected, headers);
    for (const char* comment : {"#0x0404=Chinese-ZH\n", "#0x0804=Chinese-CN\n", "#0x0409=English-USA\n",
                                "#0x0411=Japanese\n", "#0x0412=Korean\n", "#Buttons\n", "#ConfigTool\n",
                                "#ObrinSwitcher\n", "#ObrinWixCA\n"})
        EXPECT_NE(std::string::npos, text.find(comment)) << comment;
}

TEST_F(LanguageChoiceTest, EveryBaseSectionHoldsAllStringsAndCustomizedOnlyTheContinueText)
{
    Choose(0x0409);
    for (int32_t base = 6; base <= 9; ++base) {
        for (int slot = 0; slot < LANG_STRING_COUNT; ++slot)
            EXPECT_NE("<missing>", Value(base, static_cast<LangStringSlot>(slot)))
                << SectionName(base) << " " << g_LangStringKeys[slot];
        EXPECT_EQ("OK", Value(base, BTN_TEXT_OK));
        EXPECT_EQ("Obrin Config Utility", Value(base, OSSWITCHER_IDS_APP_TITLE));
        EXPECT_EQ("Obrin Config Utility", Value(base, CFGTOOL_IDS_APP_TITLE));
    }
    for (int32_t customized = 2; customized <= 5; ++customized)
        EXPECT_EQ(3, m_parser.Ops.KeyCount(IniParser_Handle(&m_parser), customized)) << SectionName(customized);
    // The English section repeats four ConfigTool keys right after the buttons.
    EXPECT_EQ(2 + 36 + 4, m_parser.Ops.KeyCount(IniParser_Handle(&m_parser), 6));
    EXPECT_EQ(2 + 36, m_parser.Ops.KeyCount(IniParser_Handle(&m_parser), 7));
    const IniKey* repeated = m_parser.Ops.FindKeyByIndex(IniParser_Handle(&m_parser), 6, 2 + 9);
    ASSERT_NE(nullptr, repeated);
    EXPECT_EQ(0, strncmp(repeated->Name, "CFGTOOL_IDS_INSTALL_WITH_LEGACY ", 32));
}

TEST_F(LanguageChoiceTest, EnglishTextsAsTabled)
{
    const LanguageSections sections = Choose(0x0409);
    const int32_t en = sections.BaseId;
    EXPECT_EQ("&About Obrin Config Utility...", Value(en, CFGTOOL_IDS_ABOUTBOX));
    EXPECT_EQ("A reboot is required  to complete the process.", Value(en, OSSWITCHER_IDS_SWITCH_REBOOT));
    EXPECT_EQ("A reboot is required to complete the process.", Value(en, WIXCA_IDS_REBOOT));
    EXPECT_EQ("Obrin is not ready, maybe you need to reboot this platform.",
              Value(en, OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY));
    EXPECT_EQ("OS switch cannot work when BIOS Legacy Support is enabled. To fix the problem, please restart the "
              "system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page "
              "and disable Legacy Support.",
              Value(en, OSSWITCHER_IDS_SWITCH_WITH_LEGACY));
    EXPECT_EQ("Failed to launch ObrinInstaller.exe [Err=%d].", Value(en, CFGTOOL_IDS_ERR_INVALID_PARAM));
    EXPECT_EQ("Android Partition can't be parted [Err=%d].", Value(en, CFGTOOL_IDS_ERR_ACCESS_PARTITION));
    EXPECT_EQ("Dual OS feature was disabled currently, do you want to enable it?",
              Value(en, CFGTOOL_IDS_SWITCH_ENABLE));
    EXPECT_EQ("Do you want to continue?", Value(en, WIXCA_IDS_CONTINUE));
}

TEST_F(LanguageChoiceTest, JapaneseKeepsEnglishWhereTabled)
{
    Choose(0x0411);
    const int32_t jp = 9;
    const int32_t en = 6;
    for (LangStringSlot slot : {BTN_TEXT_OK, BTN_TEXT_YES, BTN_TEXT_NO, CFGTOOL_IDS_ABOUTBOX,
                                CFGTOOL_IDS_ERR_GENERAL, WIXCA_IDS_REBOOT, WIXCA_IDS_CONTINUE})
        EXPECT_EQ(Value(en, slot), Value(jp, slot)) << g_LangStringKeys[slot];
    for (LangStringSlot slot : {BTN_TEXT_CANCEL, BTN_TEXT_CONTINUE, OSSWITCHER_IDS_SWITCH_REBOOT,
                                OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY})
        EXPECT_NE(Value(en, slot), Value(jp, slot)) << g_LangStringKeys[slot];
}

}  // namespace
