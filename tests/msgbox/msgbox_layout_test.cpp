#include "switcher/msgbox/msgbox_layout.h"

#include <gtest/gtest.h>

namespace {

void ExpectButtons(uint32_t type, std::initializer_list<ButtonSpec> expected)
{
    SCOPED_TRACE(testing::Message() << "type 0x" << std::hex << type);
    const ButtonSet set = ButtonSetForType(type);
    ASSERT_EQ(set.Count, static_cast<int>(expected.size()));
    int i = 0;
    for (const ButtonSpec& want : expected) {
        EXPECT_EQ(set.Buttons[i].Id, want.Id) << "button " << i;
        EXPECT_EQ(set.Buttons[i].TextIndex, want.TextIndex) << "button " << i;
        EXPECT_EQ(set.Buttons[i].User32StringId, want.User32StringId) << "button " << i;
        ++i;
    }
}

TEST(MsgBoxLayout, ButtonSetsFollowTheLowFourBitsLeftToRight)
{
    ExpectButtons(0x1, {{1, BUTTON_TEXT_OK, 800}, {2, BUTTON_TEXT_CANCEL, 801}});
    ExpectButtons(0x2, {{3, BUTTON_TEXT_ABORT, 802}, {4, BUTTON_TEXT_RETRY, 803}, {5, BUTTON_TEXT_IGNORE, 804}});
    ExpectButtons(0x3, {{6, BUTTON_TEXT_YES, 805}, {7, BUTTON_TEXT_NO, 806}, {2, BUTTON_TEXT_CANCEL, 801}});
    ExpectButtons(0x4, {{6, BUTTON_TEXT_YES, 805}, {7, BUTTON_TEXT_NO, 806}});
    ExpectButtons(0x6, {{2, BUTTON_TEXT_CANCEL, 801}, {10, BUTTON_TEXT_TRY, 809}, {11, BUTTON_TEXT_CONTINUE, 810}});
    // The icon bits and anything above do not change the buttons.
    ExpectButtons(0x41, {{1, BUTTON_TEXT_OK, 800}, {2, BUTTON_TEXT_CANCEL, 801}});
    ExpectButtons(0x10034, {{6, BUTTON_TEXT_YES, 805}, {7, BUTTON_TEXT_NO, 806}});
}

TEST(MsgBoxLayout, EveryOtherTypeGetsOneOkButtonWithString905)
{
    for (uint32_t type : {0x0u, 0x5u, 0x7u, 0x8u, 0xCu, 0xFu, 0x10u, 0x40u})
        ExpectButtons(type, {{1, BUTTON_TEXT_OK, 905}});
}

TEST(MsgBoxLayout, IconComesFromBitsFourToSeven)
{
    EXPECT_EQ(IconIdForType(0x10), 32513);
    EXPECT_EQ(IconIdForType(0x20), 32514);
    EXPECT_EQ(IconIdForType(0x30), 32515);
    EXPECT_EQ(IconIdForType(0x41), 32516);
    EXPECT_EQ(IconIdForType(0x0), 0);
    EXPECT_EQ(IconIdForType(0x4), 0);
    EXPECT_EQ(IconIdForType(0x50), 0);
    EXPECT_EQ(IconIdForType(0xF0), 0);
}

TEST(MsgBoxLayout, EscapeAppliesOnlyToTypesZeroOneThreeAndSix)
{
    for (uint32_t buttons = 0; buttons < 16; ++buttons) {
        const bool expected = buttons == 0 || buttons == 1 || buttons == 3 || buttons == 6;
        EXPECT_EQ(EscapeAppliesToType(buttons), expected) << buttons;
        EXPECT_EQ(EscapeAppliesToType(0x40 | buttons), expected) << buttons;
    }
}

TEST(MsgBoxLayout, BandHeightAddsMarginsAndKeepsRoomForTheIcon)
{
    // 30 + caption + 10 + text + 10 + 32
    EXPECT_EQ(BandHeight(27, 16, 32), 125);
    EXPECT_EQ(BandHeight(0, 0, 0), 82);
    // A tall icon sets the floor at icon height + 30.
    EXPECT_EQ(BandHeight(0, 0, 100), 130);
    EXPECT_EQ(BandHeight(0, 0, 52), 82);
}

TEST(MsgBoxLayout, ButtonsEndAtThreeQuartersOfTheWidthAndSitOnTheBandBottom)
{
    // 1024 x 768 with a band of 126: band top 321, bottom 447.
    const LayoutRect last = ButtonRect(2, 3, 1024, 768, 126);
    EXPECT_EQ(last.Right, 768);
    EXPECT_EQ(last.Left, 678);
    EXPECT_EQ(last.Bottom, 321 + 126 - 15);
    EXPECT_EQ(last.Top, last.Bottom - 32);

    const LayoutRect middle = ButtonRect(1, 3, 1024, 768, 126);
    const LayoutRect first = ButtonRect(0, 3, 1024, 768, 126);
    EXPECT_EQ(middle.Right, last.Left - 15);
    EXPECT_EQ(first.Right, middle.Left - 15);
    EXPECT_EQ(first.Left, 768 - 3 * 90 - 2 * 15);
    EXPECT_EQ(first.Top, last.Top);
    EXPECT_EQ(first.Bottom, last.Bottom);

    // The single button of a one-button box takes the right-most place.
    const LayoutRect only = ButtonRect(0, 1, 1024, 768, 126);
    EXPECT_EQ(only.Right, 768);
}

TEST(MsgBoxLayout, OddScreenSizesRoundDown)
{
    const LayoutRect button = ButtonRect(0, 1, 1023, 767, 125);
    EXPECT_EQ(button.Right, 767);  // 1023 * 3 / 4
    EXPECT_EQ(BandTop(767, 125), 321);
    EXPECT_EQ(button.Bottom, 321 + 125 - 15);
}

TEST(MsgBoxLayout, TextAreaRunsFromAQuarterToTheButtons)
{
    const LayoutRect area = TextArea(1024, 768, 126, 2);
    EXPECT_EQ(area.Left, 256);
    EXPECT_EQ(area.Right, ButtonRect(1, 2, 1024, 768, 126).Left - 15);
    EXPECT_EQ(area.Top, 321 + 15);
    EXPECT_EQ(area.Bottom, 321 + 126 - 15);

    const LayoutRect measure = MeasureRect(1024, 32);
    EXPECT_EQ(measure.Left, 0);
    EXPECT_EQ(measure.Top, 0);
    EXPECT_EQ(measure.Right, 512 - 105);
    EXPECT_EQ(measure.Bottom, 62);
}

TEST(MsgBoxLayout, TimeoutPeriodIsInMillisecondsAndNeverWraps)
{
    EXPECT_EQ(TimeoutPeriodMs(5), 5000u);
    EXPECT_EQ(TimeoutPeriodMs(0), 0u);
    // Beyond 24.8 days a multiplication in 32 bits would wrap to a short or
    // negative period and end the box early.
    EXPECT_EQ(TimeoutPeriodMs(2147484), 0x7FFFFFFFu);
    EXPECT_EQ(TimeoutPeriodMs(0x7FFFFFFF), 0x7FFFFFFFu);
}

TEST(MsgBoxLayout, RightToLeftIsBit27OfTheFourthSubsetWord)
{
    const uint32_t hebrewLike[4] = {0, 0, 0, 0x08000000};
    const uint32_t otherBits[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xF7FFFFFF};
    EXPECT_TRUE(FontSignatureIsRightToLeft(hebrewLike));
    EXPECT_FALSE(FontSignatureIsRightToLeft(otherBits));
}

}  // namespace
