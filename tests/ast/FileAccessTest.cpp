#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>
#include <unistd.h>
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

// Positions past 4 GiB, in a sparse file: written, told and read back from either origin; a
// failed close of a written file is reported and fails.
TEST(FileAccess, PositionsPast4GiBAndTheCloseResult) {
    TempDir dir;
    const std::string path = dir.path("sparse.bin");
    const int64_t far = (int64_t(1) << 32) + 12345;
    const uint8_t x[3] = {7, 8, 9};
    ASTFileAccess w;
    ASSERT_TRUE(w.open(path.c_str(), 6));
    EXPECT_TRUE(w.seek(far, 0));
    EXPECT_EQ(3, w.write(x, 3));
    EXPECT_EQ(far + 3, w.tell());
    EXPECT_TRUE(w.close());
    ASTFileAccess r;
    ASSERT_TRUE(r.open(path.c_str(), 5));
    for (int whence : {0, 2}) {
        EXPECT_TRUE(r.seek(whence == 0 ? far : -3, whence));
        EXPECT_EQ(far, r.tell());
        uint8_t b[4] = {};
        EXPECT_EQ(3, r.read(b, 4));
        EXPECT_TRUE(r.isEof());
        EXPECT_EQ(0, memcmp(b, x, 3));
    }
    EXPECT_EQ("[AST][ERR]Failed to close file '" + path + "', written data may be lost.\n", captureStdout([&] {
                  ASSERT_TRUE(w.open(path.c_str(), 6));
                  close(w.descriptor());  // the system refuses the close
                  EXPECT_FALSE(w.close());
              }));
}

// Reads and writes that a signal interrupts (a handler without SA_RESTART) or that a pipe takes
// in part are carried on: every byte arrives, in order. A pipe is skipped forward past the
// buffer by reading, and cannot go back past it.
TEST(FileAccess, InterruptedAndPartialTransfersGoOn) {
    struct sigaction action {
    }, old{};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR2, &action, &old);
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    std::vector<uint8_t> bytes(1 << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / 256);
    std::vector<uint8_t> got(bytes.size());
    std::atomic<bool> done(false);
    // The writer and the reader, each interrupted again and again while the other is slow.
    std::thread reader([&] {
        ASTFileAccess in;
        captureStdout([&] { in.open(("/dev/fd/" + std::to_string(fds[0])).c_str(), 5); });
        size_t at = 0;
        while (at < got.size()) {
            int32_t n = in.read(got.data() + at, int32_t(std::min<size_t>(4096, got.size() - at)));
            if (n <= 0) break;
            at += size_t(n);
            if (at == 4096) {
                EXPECT_TRUE(in.seek(300000, 1));
                at += 300000;
                std::copy(bytes.begin() + 4096, bytes.begin() + long(at), got.begin() + 4096);
            }
            usleep(50);
        }
        EXPECT_EQ(got.size(), at);
        EXPECT_FALSE(in.seek(0, 0));
    });
    pthread_t readerThread = reader.native_handle(), self = pthread_self();
    std::thread signaller([&] {
        while (!done.load()) {
            pthread_kill(self, SIGUSR2);
            pthread_kill(readerThread, SIGUSR2);
            usleep(200);
        }
    });
    ASTFileAccess out;
    ASSERT_TRUE(out.open(("/dev/fd/" + std::to_string(fds[1])).c_str(), 6));
    EXPECT_EQ(int32_t(bytes.size()), out.write(bytes.data(), int32_t(bytes.size())));
    out.close();
    done.store(true);
    signaller.join();
    reader.join();
    close(fds[0]);
    close(fds[1]);
    sigaction(SIGUSR2, &old, nullptr);
    EXPECT_TRUE(bytes == got);
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
    EXPECT_EQ("TIT2:AB\\nC\n", captureStdout([&] { printText("TIT2", frame, 5); }));
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
