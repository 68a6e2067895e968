// The frame buffer every reader hands out. WAV and raw PCM are covered end to end.
#include <gtest/gtest.h>

#include <cstring>

#include "FrameBuffer.h"

namespace {

TEST(FrameBuffer, ReserveGrowsKeepsAndReleases) {
    FrameBuffer f;
    EXPECT_TRUE(f.reserve(0));
    EXPECT_EQ(nullptr, f.data);
    ASSERT_TRUE(f.reserve(4));
    memcpy(f.data, "abcd", 4);
    f.length = 4;
    uint8_t* block = f.data;
    EXPECT_TRUE(f.reserve(3));  // no bigger: same block, contents kept, length reset
    EXPECT_EQ(block, f.data);
    EXPECT_EQ(0, f.length);
    ASSERT_TRUE(f.reserve(100));
    EXPECT_EQ(100, f.capacity);
    EXPECT_EQ(0, memcmp(f.data, "abcd", 4));
    EXPECT_TRUE(f.reserve(-1));
    EXPECT_EQ(nullptr, f.data);
    EXPECT_EQ(0, f.capacity);
}

}  // namespace
