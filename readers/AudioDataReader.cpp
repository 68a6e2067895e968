#include "AudioDataReader.h"

#include <cstring>

#include "ASTFileAccess.h"
#include "ASTLog.h"
#include "ClaimedBlock.h"
#include "Codecs.h"

AudioDataReader::AudioDataReader(const char* path)
    : mInvalid(true), mFrame(), mInfo(), mAccess(new ASTFileAccess()), mFoundCodec(CODEC_NONE) {
    if (path != nullptr) mAccess->open(path, ASTDataAccess::MODE_READ | ASTDataAccess::MODE_BINARY);
}

AudioDataReader::~AudioDataReader() {
    mFrame.reserve(0);
    mAccess->close();
    delete mAccess;
}

int AudioDataReader::inputDescriptor() { return mAccess->descriptor(); }

void AudioDataReader::openStream() {
    if (!mAccess->isOpen()) return;
    const int64_t firstUnit = parseHeaders();
    if (firstUnit < 0) return;
    describe();
    if (!seekTo(firstUnit)) return;
    mInvalid = false;
}

void AudioDataReader::printSummary(const char* parser) const {
    astLog("[AST][INF]%s:\n", parser);
    astLog("[AST][INF]sampleFrequency=%d\n", mInfo.sampleFrequency);
    astLog("[AST][INF]channelMap=%d(1-Mono/2-Stereo)\n", mInfo.channelMap);
}

void AudioDataReader::mapSampleRate(uint32_t value) { mInfo.sampleFrequency = value; }

void AudioDataReader::mapChannel(uint8_t code) { mInfo.channelMap = (code == 1 || code == 2) ? code : 0; }

int32_t AudioDataReader::getFrameLength() { return 4096; }

int64_t AudioDataReader::skipId3v2Tag(uint8_t* head, int32_t read, const char* what) {
    if (read < 3 || memcmp(head, "ID3", 3) != 0) return 0;
    if (read < 10 && readFully(head + read, 10 - read) != 10 - read) return -1;
    // Seven bits a byte; a byte with its top bit set is no tag size.
    uint32_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (head[i] >= 0x80) return 0;
        size = size << 7 | head[i];
    }
    const uint32_t kFooterFlag = 0x10;
    const int64_t length = 10 + int64_t(size) + ((head[5] & kFooterFlag) ? 10 : 0);
    astLog("[AST][WRN]ID3v2 tag of %lld bytes skipped before the %s.\n", static_cast<long long>(length), what);
    if (!seekTo(length) || readFully(head, read) != read) return -1;
    return length;
}

int32_t AudioDataReader::readFully(uint8_t* buffer, int32_t length) {
    int32_t n = mAccess->read(buffer, length);
    if (n != length) {
        if (mAccess->isEof())
            astLog("[AST][INF]Reached end of data:%d.\n", n);
        else
            astLog("[AST][ERR]Failed to read:%d.\n", n);
    }
    return n;
}

bool AudioDataReader::seekTo(int64_t offset, int32_t whence) { return seekReported(*mAccess, offset, whence); }

int32_t AudioDataReader::remainingLength() {
    int64_t here = mAccess->tell();
    if (here < 0) return 0;
    // A pipe has no end to measure: claims are bounded all the same, by what a header may hold.
    if (!mAccess->seek(0, 2)) return kUnmeasuredLength;
    int64_t end = mAccess->tell();
    if (!mAccess->seek(here, 0) || end < here) return 0;
    // A bound for claims of at most INT32_MAX bytes.
    return end - here > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end - here);
}

int64_t AudioDataReader::fileLength() {
    int64_t here = mAccess->tell();
    if (here < 0 || !mAccess->seek(0, 2)) return -1;
    int64_t end = mAccess->tell();
    if (!mAccess->seek(here, 0) || end < 0) return -1;
    return end;
}

ByteCursor AudioDataReader::readClaimed(int32_t claimed, int32_t spare) {
    return readClaimedBlock(*mAccess, claimed, remainingLength(), spare);
}
