#include "app/app.h"
#include <gtest/gtest.h>

namespace {

TEST(ConsoleWindow, KeptPlaceIsReadWholeOrNotAtAll)
{
    struct PlaceCase {
        const wchar_t* text;
        bool isRead;
        RECT rect;
        bool isMaximized;
        int line;
    };
    const PlaceCase CASES[] = {
        {L"100,50,640,480,0", true, {100, 50, 740, 530}, false, __LINE__},
        {L"-1200,0,800,600,1", true, {-1200, 0, -400, 600}, true, __LINE__},   // a screen left of the first
        {L"100,50,640,480", false, {}, false, __LINE__},
        {L"100,50,640,480,0,7", false, {}, false, __LINE__},
        {L"100,50,100,80,0", false, {}, false, __LINE__},                        // below the smallest size
        {L"100,50,640,480,2", false, {}, false, __LINE__},
        {L"", false, {}, false, __LINE__},
    };
    for (const auto& c : CASES) {
        ConsolePlace place = {};
        ASSERT_EQ(ParseConsolePlace(c.text, place), c.isRead) << "case at line " << c.line;
        if (!c.isRead)
            continue;
        EXPECT_TRUE(EqualRect(&place.rect, &c.rect)) << "case at line " << c.line;
        EXPECT_EQ(place.isMaximized, c.isMaximized) << "case at line " << c.line;
    }
}

TEST(ConsoleWindow, KeptPlaceMovesOntoTheScreen)
{
    const RECT AREA = {0, 0, 800, 570};
    const RECT CASES[][2] = {       // kept, placed
        {{100, 50, 740, 530}, {100, 50, 740, 530}},
        {{500, 400, 1140, 880}, {160, 90, 800, 570}},       // past the right and the bottom
        {{-900, -20, -260, 460}, {0, 0, 640, 480}},         // a screen no longer there
        {{-10, 0, 1290, 1000}, {0, 0, 800, 570}},           // larger than the area
    };
    for (const auto& c : CASES) {
        RECT rect = c[0];
        FitRectInto(rect, AREA);
        EXPECT_TRUE(EqualRect(&rect, &c[1])) << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
    }
}

} // namespace
