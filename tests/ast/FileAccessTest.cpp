#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ASTFileAccess.h"
#include "TestSupport.h"

using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

const char kNotOpen[] = "[AST][ERR]File is NOT open.\n";

TEST(FileAccess, ClosedObjectRefusesEverythingWithOneLineEach) {
    ASTFileAccess f;
    const std::string out = captureStdout([&] {
        EXPECT_FALSE(f.open(nullptr, 5));
        EXPECT_FALSE(f.isOpen());
        EXPECT_TRUE(f.isEof());
        EXPECT_EQ(-1, f.tell());
        EXPECT_FALSE(f.seek(0, 0));
        uint8_t b[4];
        EXPECT_EQ(-1, f.read(b, 4));
        EXPECT_EQ(-1, f.write(b, 4));
        EXPECT_TRUE(f.close());
    });
    EXPECT_EQ(std::string("[AST][ERR]File path is NULL.\n") + kNotOpen + kNotOpen + kNotOpen + kNotOpen + kNotOpen,
              out);
}

const char kNotReadable[] = "[AST][ERR]File is NOT readable, please check READ permission.\n";
const char kNotWritable[] = "[AST][ERR]File is NOT writable, please check WRITE permission.\n";

// Each mode reads or writes two bytes at the start of an eight-byte file, then seeks to its end.
TEST(FileAccess, ModeBitsChooseStreamAndRefusedDirection) {
    const struct {
        int32_t mode;
        bool reads, writes;
        std::string refused;
        std::vector<uint8_t> after;  // the file
    } cases[] = {
        {5, true, false, kNotWritable, {1, 2, 3, 4, 5, 6, 7, 8}},
        {3, false, false, std::string(kNotReadable) + kNotWritable, {1, 2, 3, 4, 5, 6, 7, 8}},  // both bits: neither
        {4, true, true, "", {9, 9, 3, 4, 5, 6, 7, 8}},  // no direction bit: existing file, both directions
        {6, false, true, kNotReadable, {9, 9}},         // truncates
    };
    TempDir dir;
    const std::string path = dir.path("f.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        testsupport::writeFile(path, {1, 2, 3, 4, 5, 6, 7, 8});
        ASTFileAccess f;
        ASSERT_TRUE(f.open(path.c_str(), c.mode));
        uint8_t b[2];
        const uint8_t x[2] = {9, 9};
        EXPECT_EQ(c.refused, captureStdout([&] {
                      EXPECT_EQ(c.reads ? 2 : -1, f.read(b, 2));
                      if (c.reads) f.seek(0, 0);
                      EXPECT_EQ(c.writes ? 2 : -1, f.write(x, 2));
                  }));
        EXPECT_TRUE(f.seek(0, 2));
        EXPECT_EQ(int32_t(c.after.size()), f.tell());
        f.close();
        EXPECT_FALSE(f.isOpen());
        EXPECT_EQ(c.after, testsupport::readFile(path));
    }
    ASTFileAccess absent;  // mode 4 does not create a file
    captureStdout([&] { EXPECT_FALSE(absent.open(dir.path("absent").c_str(), 4)); });
}

TEST(FileAccess, DebugPrinters) {
    std::vector<uint8_t> sixteen(16);
    for (int i = 0; i < 16; ++i) sixteen[i] = static_cast<uint8_t>(i * 17);
    EXPECT_EQ("t, dataLen=16\n00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF \n\n",
              captureStdout([&] { dumpData("t", sixteen.data(), 16, false); }));
    EXPECT_EQ("t, dataLen=0\n\n", captureStdout([&] { dumpData("t", nullptr, 0, false); }));
    const uint8_t text[] = {'a', 0x01, 'b', 0x7F, ' '};
    EXPECT_EQ("x, dataLen=5\na.b. \n", captureStdout([&] { dumpData("x", text, 5, true); }));
    const uint8_t frame[] = {'A', 0x01, 'B', 0x0A, 'C'};
    EXPECT_EQ("TIT2:AB\nC\n", captureStdout([&] { printText("TIT2", frame, 5); }));
    std::vector<uint8_t> big(3000, 'z');
    EXPECT_EQ("T:" + std::string(3000, 'z') + "\n", captureStdout([&] { printText("T", big.data(), 3000); }));
}

// A reading stream is buffered by the object: reads, seeks and tells across and around its
// buffer give the file's bytes and positions, and the end-of-file indicator is set only by a
// read that comes up short, as stdio's is.
TEST(FileAccess, ReadingAcrossTheBufferKeepsPositionsAndTheEndIndicator) {
    TempDir dir;
    std::string path = dir.path("big.bin");
    const int32_t size = 600000;  // more than two buffers
    std::vector<uint8_t> bytes(size);
    for (int32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    testsupport::writeFile(path, bytes);

    struct Step {
        int32_t offset, whence;  // whence -1: no seek
        bool seeks;
        int32_t length, got;
        bool eof;
    };
    const int32_t kBuffer = 256 * 1024;
    const Step steps[] = {
        {0, -1, true, 10, 10, false},
        {-5, 1, true, 3, 3, false},             // back inside the buffer
        {kBuffer - 4, 0, true, 10, 10, false},  // across its end
        {0, -1, true, 300000, 300000, false},   // larger than the buffer
        {4000, 1, true, 20, 20, false},
        {-3, 2, true, 10, 3, true},        // short at the end
        {0, 7, true, 5, 5, false},         // a seek clears the indicator; any origin but 1 and 2 is the start
        {size - 4, 0, true, 4, 4, false},  // ending exactly at the end sets nothing
        {0, -1, true, 1, 0, true},
        {-1, 0, false, 0, 0, true},        // a failed seek changes nothing
        {size + 10, 0, true, 4, 0, true},  // past the end
    };
    ASTFileAccess f;
    ASSERT_TRUE(f.open(path.c_str(), 5));
    int64_t position = 0;
    std::vector<uint8_t> buffer(size);
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "seek " << s.offset << "/" << s.whence << " read " << s.length);
        if (s.whence >= 0) {
            EXPECT_EQ(s.seeks, f.seek(s.offset, s.whence));
            if (s.seeks) position = s.whence == 1 ? position + s.offset : s.whence == 2 ? size + s.offset : s.offset;
        }
        EXPECT_EQ(position, f.tell());
        EXPECT_EQ(s.got, f.read(buffer.data(), s.length));
        if (s.got > 0) {
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + s.got, bytes.begin() + position));
        }
        position += s.got;
        EXPECT_EQ(position, f.tell());
        EXPECT_EQ(s.eof, f.isEof());
    }
}

}  // namespace
