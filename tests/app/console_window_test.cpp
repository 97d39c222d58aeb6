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

} // namespace
