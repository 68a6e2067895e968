#include "WavAudioDataWriter.h"

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTOutputGuard.h"
#include "FieldCodec.h"

WavAudioDataWriter::WavAudioDataWriter(const char* path, const AudioInfo* info, bool isWav, bool roomForRf64)
    : AudioDataWriter(path), mIsWav(isWav), mHeaderLength(roomForRf64 ? kRf64HeaderLength : kWavHeaderLength) {
    mInfo = *info;
    if (!mAccess->isOpen()) return;

    if (mIsWav) {
        uint32_t bytes = pcmBytesPerSample(mInfo.pcm.bitDepth & 0xFF);
        uint32_t channels = getChannels();
        uint32_t rate = getSampleFrequency();
        uint8_t header[kRf64HeaderLength] = {};
        uint8_t* p = header;
        writeByteField(p, 4, 0x52494646, AST_BIG_ENDIAN);
        writeByteField(p, 4, static_cast<uint32_t>(mHeaderLength - 8), AST_LITTLE_ENDIAN);
        writeByteField(p, 4, 0x57415645, AST_BIG_ENDIAN);
        if (mHeaderLength == kRf64HeaderLength) {
            // Room for the ds64 chunk, should the output pass 4 GiB.
            writeByteField(p, 4, 0x4A554E4B, AST_BIG_ENDIAN);
            writeByteField(p, 4, 28, AST_LITTLE_ENDIAN);
            p += 28;
        }
        writeByteField(p, 4, 0x666D7420, AST_BIG_ENDIAN);
        writeByteField(p, 4, 16, AST_LITTLE_ENDIAN);
        writeByteField(p, 2, 1, AST_LITTLE_ENDIAN);
        writeByteField(p, 2, channels, AST_LITTLE_ENDIAN);
        writeByteField(p, 4, rate, AST_LITTLE_ENDIAN);
        writeByteField(p, 4, bytes * rate * channels, AST_LITTLE_ENDIAN);
        writeByteField(p, 2, bytes * channels, AST_LITTLE_ENDIAN);
        writeByteField(p, 2, bytes * 8, AST_LITTLE_ENDIAN);
        writeByteField(p, 4, 0x64617461, AST_BIG_ENDIAN);
        writeByteField(p, 4, 0, AST_LITTLE_ENDIAN);
        int32_t n = mAccess->write(header, mHeaderLength);
        if (n != mHeaderLength) {
            astLog("[AST][ERR]Failed to write:%d.\n", n);
            return;
        }
        mBlockAlign = bytes * channels;
        guardWavOutput(mAccess->descriptor(), mHeaderLength, mBlockAlign);
        mGuarded = true;
    }
    mInvalid = false;
}

WavAudioDataWriter::~WavAudioDataWriter() { finish(); }

bool WavAudioDataWriter::finish() {
    if (mFinished) return mCompleted;
    mFinished = true;
    mCompleted = !mIsWav || completeHeader();
    // No more writes come, and the descriptor closes now: a write-back that fails shows there.
    if (mGuarded) guardWavOutput(-1);
    if (!mAccess->close()) mCompleted = false;
    return mCompleted;
}

bool WavAudioDataWriter::completeHeader() {
    if (!seekReported(*mAccess, 0, 2)) return false;
    int64_t length = mAccess->tell();
    if (length < 0) {
        astLog("[AST][ERR]Failed to tell, ret=%lld.\n", static_cast<long long>(length));
        return false;
    }
    WavSizeField fields[3];
    WavSizes kind;
    const int32_t count = wavSizeFields(mHeaderLength, length, mBlockAlign, fields, &kind);
    for (int32_t i = 0; i < count; ++i) {
        if (!seekReported(*mAccess, fields[i].offset, 0)) return false;
        int32_t n = mAccess->write(fields[i].bytes, fields[i].length);
        if (n != fields[i].length) {
            astLog("[AST][ERR]Failed to write:%d.\n", n);
            return false;
        }
    }
    if (const char* line = wavSizesLine(kind)) astLog("%s", line);
    return true;
}

int32_t WavAudioDataWriter::write(const FrameBuffer* frame) {
    if (mGuarded) enterOutputWrite();
    int32_t n = mAccess->write(frame->data, frame->length);
    if (mGuarded) leaveOutputWrite();
    if (n == frame->length) return n;
    astLog("[AST][ERR]Failed to write:%d.\n", n);
    return 0;
}
