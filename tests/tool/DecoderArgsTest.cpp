#include <gtest/gtest.h>

#include "DecoderArgs.h"
#include "FormatTable.h"
#include "TestSupport.h"

namespace {

bool parse(std::vector<const char*> words, DecoderArgs* args) {
    words.insert(words.begin(), "ostrel");
    bool ok = false;
    testsupport::captureStdout([&] { ok = parseDecoderArgs(static_cast<int>(words.size()), words.data(), args); });
    return ok;
}

TEST(DecoderArgs, DefaultsAndNumbers) {
    DecoderArgs a;
    ASSERT_TRUE(parse({"-f=x.wav"}, &a));
    EXPECT_STREQ("example0", a.progressName);
    EXPECT_STREQ("decoder0", a.name);
    EXPECT_STREQ("", a.saveFile);
    EXPECT_EQ(48000, a.sampleFrequency);
    EXPECT_EQ(2, a.channel);
    EXPECT_EQ(16, a.bitDepth);
    ASSERT_TRUE(parse({"-f=x", "-s=08000", "--channel=1", "--bit=33", "-s"}, &a));
    EXPECT_EQ(8000, a.sampleFrequency);
    EXPECT_EQ(1, a.channel);
    EXPECT_EQ(33, a.bitDepth);
}

TEST(DecoderArgs, SuffixAndCodec) {
    EXPECT_EQ(nullptr, fileSuffix("song"));
    EXPECT_EQ(nullptr, fileSuffix("song."));
    EXPECT_STREQ("old/song", fileSuffix("dir.old/song"));
    EXPECT_STREQ("gz", fileSuffix("a.tar.gz"));
    EXPECT_EQ(0, codecOfSuffix("WaV"));
    EXPECT_EQ(160, codecOfSuffix("M4A"));
    EXPECT_EQ(-1, codecOfSuffix("mp"));
    EXPECT_EQ(-1, codecOfSuffix("mp33"));
    EXPECT_EQ(-1, codecOfSuffix(""));
}

}  // namespace
