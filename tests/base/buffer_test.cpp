#include "base/buffer.h"
#include <gtest/gtest.h>
#include <cstdint>

namespace {

// The bound holds however the items arrive: one by one, in a run, or reserved; a refusal
// leaves what the buffer held as it was.
TEST(Buffer, BoundRefusesAndKeepsTheItems)
{
    Buffer<char, 40> buffer;
    for (char c = 0; c < 40; ++c)
        ASSERT_TRUE(AppendValue(buffer, c));
    EXPECT_FALSE(AppendValue(buffer, 'x'));
    EXPECT_EQ(AppendItem(buffer), nullptr);
    EXPECT_EQ(AppendItems(buffer, "ab", 2), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(ReserveItems(buffer, SIZE_MAX), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));     // no wrap-around
    ASSERT_EQ(buffer.count, 40u);
    EXPECT_LE(buffer.capacity, 40u);
    for (char c = 0; c < 40; ++c)
        EXPECT_EQ(buffer.items[static_cast<size_t>(c)], c);
    buffer.count = 38;
    EXPECT_EQ(AppendItems(buffer, "ab", 2), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(buffer.items[39], 'b');
    ReleaseItems(buffer);
    EXPECT_EQ(buffer.items, nullptr);
    EXPECT_TRUE(AppendValue(buffer, 'y'));      // usable again after release
    ReleaseItems(buffer);
}

struct Wide {
    int64_t a;
    int64_t b;
};

// Growth keeps every item; an item appended over one that a lowered count left behind
// comes back zeroed.
TEST(Buffer, GrowthKeepsItemsAndNewItemsAreZero)
{
    Buffer<Wide> buffer;
    for (int64_t i = 0; i < 5000; ++i) {
        Wide* item = AppendItem(buffer);
        ASSERT_NE(item, nullptr);
        *item = {i, -i};
    }
    for (size_t i = 0; i < buffer.count; ++i)
        ASSERT_EQ(buffer.items[i].b, -static_cast<int64_t>(i));
    buffer.count = 3;
    Wide* reused = AppendItem(buffer);
    ASSERT_NE(reused, nullptr);
    EXPECT_EQ(reused->a, 0);
    EXPECT_EQ(reused->b, 0);
    EXPECT_EQ(buffer.items[2].a, 2);
    ReleaseItems(buffer);
}

} // namespace
