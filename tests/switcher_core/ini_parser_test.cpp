#include "switcher/lang/ini_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

class IniParserTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, IniParser_Initialize(&m_parser)); }
    void TearDown() override { IniParser_Uninitialize(&m_parser); }

    IniParserHandle Handle() { return IniParser_Handle(&m_parser); }
    const IniParserOperations& Ops() const { return m_parser.Ops; }

    int32_t Parse(const char* text) { return Ops().ParseText(Handle(), text); }

    // The value as the size query and copy deliver it; "<missing>" when the key is not there.
    std::string Value(int32_t sectionId, const char* key)
    {
        uint32_t size = 0;
        if (!Ops().GetValue(Handle(), sectionId, key, nullptr, &size))
            return "<missing>";
        std::string value(size, '\0');
        char empty[1] = {'x'};
        char* buffer = size ? value.data() : empty;
        uint32_t capacity = size ? size : 1;
        EXPECT_EQ(1, Ops().GetValue(Handle(), sectionId, key, buffer, &capacity));
        EXPECT_EQ(size, capacity);
        return size ? std::string(value.c_str()) : std::string(empty);
    }

    IniParser m_parser{};
};

TEST_F(IniParserTest, OperationsRefuseMissingParserOrArguments)
{
    uint32_t notAParser = 0x50696E48;
    uint32_t size = 0;
    EXPECT_EQ(0, Ops().ParseText(nullptr, "[A]"));
    EXPECT_EQ(0, Ops().ParseText(&notAParser, "[A]"));
    EXPECT_EQ(0, Ops().ParseText(Handle(), nullptr));
    EXPECT_EQ(0, Ops().LoadFile(Handle(), nullptr));
    EXPECT_EQ(nullptr, Ops().FindSectionByName(Handle(), nullptr));
    EXPECT_EQ(nullptr, Ops().FindKeyByName(Handle(), 0, nullptr));
    EXPECT_EQ(0, Ops().GetValue(Handle(), 0, "x", nullptr, &size));
    EXPECT_EQ(0, Ops().SectionCount(nullptr));
    EXPECT_EQ(1, Ops().IsEmpty(Handle()));
    EXPECT_EQ(0, memcmp(&m_parser.Signature, "IniP", 4));
}

TEST_F(IniParserTest, FirstLineHeaderWithoutByteOrderMarkIsKept)
{
    ASSERT_EQ(1, Parse("[GENERAL]\nkey=value\n"));
    const IniSection* section = Ops().FindSectionByName(Handle(), "GENERAL");
    ASSERT_NE(nullptr, section);
    EXPECT_EQ(0, section->Id);
    EXPECT_EQ("value", Value(0, "key"));
}

TEST_F(IniParserTest, ByteOrderMarkIsSkippedOnlyAtTheStart)
{
    ASSERT_EQ(1, Parse("\xEF\xBB\xBF[GENERAL]\na=1\n\xEF\xBB\xBF[X]\n"));
    ASSERT_EQ(1, Ops().SectionCount(Handle()));
    EXPECT_NE(nullptr, Ops().FindSectionByName(Handle(), "GENERAL"));
    // Not at the start, the mark is ordinary text: that line is a key.
    ASSERT_EQ(2, Ops().KeyCount(Handle(), 0));
    EXPECT_STREQ("\xEF\xBB\xBF[X]", Ops().FindKeyByIndex(Handle(), 0, 1)->Name);
}

TEST_F(IniParserTest, ShortTextsAreParsedWithoutReadingPastTheirEnd)
{
    EXPECT_EQ(1, Parse(""));
    EXPECT_EQ(1, Parse("["));
    EXPECT_EQ(1, Parse("\xEF\xBB"));
    ASSERT_EQ(1, Ops().SectionCount(Handle()));
    EXPECT_STREQ("", Ops().FindSectionById(Handle(), 0)->Name);
}

TEST_F(IniParserTest, KeyAndValueFormsFollowTheLinePattern)
{
    ASSERT_EQ(1, Parse("[S]\n"
                       "padded    =  spaced value  \n"
                       "blanks=   \n"
                       "bare name\n"
                       "comment=text # trailing\n"
                       "semi=a;b\n"
                       "caret^x=1\n"
                       "#comment=1\n"
                       ";comment=1\n"
                       "^comment=1\n"
                       "\n"
                       "=novalue\n"
                       "cr=v\r\n"));
    EXPECT_EQ(7, Ops().KeyCount(Handle(), 0));
    EXPECT_EQ("spaced value  ", Value(0, "padded"));
    EXPECT_STREQ("padded    ", Ops().FindKeyByIndex(Handle(), 0, 0)->Name);
    EXPECT_EQ("", Value(0, "blanks"));
    EXPECT_EQ(0u, Ops().FindKeyByName(Handle(), 0, "blanks")->ValueSize);
    EXPECT_EQ("", Value(0, "bare name"));
    EXPECT_EQ("text ", Value(0, "comment"));
    EXPECT_EQ("a", Value(0, "semi"));
    EXPECT_EQ("", Value(0, "caret"));
    // A CR before the LF stays part of the line.
    EXPECT_EQ("v\r", Value(0, "cr"));
}

TEST_F(IniParserTest, EscapesBecomeLineBreaks)
{
    ASSERT_EQ(1, Parse("[S]\nk=one\\ntwo\\r\\nthree\\x\n"));
    EXPECT_EQ("one\ntwo\r\nthree\\x", Value(0, "k"));
    EXPECT_EQ(strlen("one\ntwo\r\nthree\\x") + 1, Ops().FindKeyByName(Handle(), 0, "k")->ValueSize);
}

TEST_F(IniParserTest, KeysBeforeTheFirstHeaderAreDropped)
{
    ASSERT_EQ(1, Parse("orphan=1\n[S]\nk=2"));
    EXPECT_EQ(1, Ops().SectionCount(Handle()));
    EXPECT_EQ(1, Ops().KeyCount(Handle(), 0));
    EXPECT_EQ("2", Value(0, "k"));  // last line without a line feed
}

TEST_F(IniParserTest, HeaderNameEndsAtTheFirstClosingBracket)
{
    ASSERT_EQ(1, Parse("[A]B]\n[open\n"));
    EXPECT_NE(nullptr, Ops().FindSectionByName(Handle(), "A"));
    EXPECT_NE(nullptr, Ops().FindSectionByName(Handle(), "open"));
    EXPECT_EQ(nullptr, Ops().FindSectionByName(Handle(), "a"));  // case-sensitive
}

TEST_F(IniParserTest, DuplicateSectionNamesStayDistinctById)
{
    ASSERT_EQ(1, Parse("[L]\nk=first\n[M]\n[L]\nk=second\nj=x\n"));
    ASSERT_EQ(3, Ops().SectionCount(Handle()));
    EXPECT_EQ(0, Ops().FindSectionByName(Handle(), "L")->Id);
    EXPECT_EQ("first", Value(0, "k"));
    EXPECT_EQ("second", Value(2, "k"));
    EXPECT_EQ(0, Ops().KeyCount(Handle(), 1));
    const IniKey* key = Ops().FindKeyByIndex(Handle(), 2, 1);
    ASSERT_NE(nullptr, key);
    EXPECT_STREQ("j", key->Name);
    EXPECT_EQ(2, key->SectionId);
    EXPECT_EQ(nullptr, Ops().FindKeyByIndex(Handle(), 2, 2));
    EXPECT_EQ(nullptr, Ops().FindSectionById(Handle(), 3));
}

TEST_F(IniParserTest, SecondParseAddsSectionsAfterTheFirst)
{
    ASSERT_EQ(1, Parse("[A]\n"));
    ASSERT_EQ(1, Parse("k=dropped\n[B]\nk=1\n"));
    EXPECT_EQ(1, Ops().FindSectionByName(Handle(), "B")->Id);
    EXPECT_EQ(0, Ops().KeyCount(Handle(), 0));
    EXPECT_EQ(0, Ops().IsEmpty(Handle()));
}

TEST_F(IniParserTest, KeyLookupIgnoresPaddingButNotAFurtherName)
{
    ASSERT_EQ(1, Parse("[S]\n"
                       "BTN_TEXT_OKAY                           =okay\n"
                       "BTN_TEXT_OK                             =OK\n"
                       "BTN_TEXT_OK                             =second\n"));
    EXPECT_EQ("OK", Value(0, "BTN_TEXT_OK"));
    EXPECT_EQ("okay", Value(0, "BTN_TEXT_OKAY"));
    EXPECT_EQ(nullptr, Ops().FindKeyByName(Handle(), 0, "BTN_TEXT_O"));
    EXPECT_EQ(nullptr, Ops().FindKeyByName(Handle(), 0, "BTN_TEXT_OK  X"));
}

TEST_F(IniParserTest, SizeQueryAndCopy)
{
    ASSERT_EQ(1, Parse("[S]\nname=value\nempty=\n"));
    uint32_t size = 5;
    EXPECT_EQ(0, Ops().GetValue(Handle(), 0, "name", nullptr, &size));  // null buffer needs size 0
    size = 0;
    EXPECT_EQ(1, Ops().GetValue(Handle(), 0, "name", nullptr, &size));
    EXPECT_EQ(6u, size);
    char buffer[8] = "zzzzzzz";
    size = 5;
    EXPECT_EQ(0, Ops().GetValue(Handle(), 0, "name", buffer, &size));
    EXPECT_STREQ("zzzzzzz", buffer);
    size = sizeof(buffer);
    EXPECT_EQ(1, Ops().GetValue(Handle(), 0, "name", buffer, &size));
    EXPECT_STREQ("value", buffer);
    EXPECT_EQ(6u, size);

    size = sizeof(buffer);
    EXPECT_EQ(1, Ops().GetValue(Handle(), 0, "empty", buffer, &size));
    EXPECT_EQ(0u, size);
    EXPECT_STREQ("", buffer);

    size = 0;
    EXPECT_EQ(1, Ops().GetKeyName(Handle(), 0, 1, nullptr, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(1, Ops().GetKeyName(Handle(), 0, 1, buffer, &size));
    EXPECT_STREQ("empty", buffer);
    EXPECT_EQ(0, Ops().GetKeyName(Handle(), 0, 9, buffer, &size));
    EXPECT_EQ(0, Ops().GetKeyName(Handle(), 0, 0, buffer, nullptr));
}

TEST_F(IniParserTest, OverlongLinesAreSkippedWhole)
{
    const std::string text = "[S]\nlong=" + std::string(INI_LINE_SIZE, 'v') + "\nshort=1\n";
    ASSERT_EQ(1, Parse(text.c_str()));
    EXPECT_EQ(1, Ops().KeyCount(Handle(), 0));
    EXPECT_EQ("<missing>", Value(0, "long"));
    const std::string fits = "[T]\nk=" + std::string(INI_LINE_SIZE - 3, 'v') + "\n";
    ASSERT_EQ(1, Parse(fits.c_str()));
    EXPECT_EQ(INI_LINE_SIZE - 3, Value(1, "k").size());
}

TEST_F(IniParserTest, LoadFileParsesTheWholeFile)
{
    const std::string path = testing::TempDir() + "ini_parser_load.ini";
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    fputs("\xEF\xBB\xBF[FILE]\nlast=no line feed", file);
    fclose(file);
    EXPECT_EQ(1, Ops().LoadFile(Handle(), path.c_str()));
    EXPECT_EQ("no line feed", Value(0, "last"));
    EXPECT_EQ(0, Ops().LoadFile(Handle(), (path + ".missing").c_str()));
    remove(path.c_str());
}

TEST_F(IniParserTest, UninitialiseReleasesEverythingAndUncounts)
{
    const int32_t count = Ops().InstanceCount(Handle());
    IniParser other{};
    ASSERT_EQ(1, IniParser_Initialize(&other));
    EXPECT_EQ(count + 1, Ops().InstanceCount(Handle()));
    ASSERT_EQ(1, other.Ops.ParseText(IniParser_Handle(&other), "[A]\na=1\nb=2\n[B]\nc=3\n"));
    // The sanitizers report anything left behind here.
    IniParser_Uninitialize(&other);
    EXPECT_EQ(count, Ops().InstanceCount(Handle()));
    EXPECT_EQ(0u, other.Signature);
}

}  // namespace
