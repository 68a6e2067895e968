#include <gtest/gtest.h>

#include "DecoderArgs.h"
#include "FormatTable.h"
#include "TestSupport.h"

namespace {

// Defaults, the file suffixes and the plain options are checked end to end; these are the
// number forms and the suffixes that only nearly match.
TEST(DecoderArgs, NumbersAndNearSuffixes) {
    const char* words[] = {"ostrel", "-f=x", "-s=08000", "-s"};
    DecoderArgs a;
    bool ok = false;
    testsupport::captureStdout([&] { ok = parseDecoderArgs(4, words, &a); });
    ASSERT_TRUE(ok);
    EXPECT_EQ(8000, a.sampleFrequency);
    EXPECT_EQ(0, codecOfSuffix("WaV"));
    EXPECT_EQ(-1, codecOfSuffix("mp"));
    EXPECT_EQ(-1, codecOfSuffix("mp33"));
    EXPECT_EQ(-1, codecOfSuffix(""));
}

}  // namespace
