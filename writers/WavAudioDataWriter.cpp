#include "WavAudioDataWriter.h"

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTOutputGuard.h"
#include "FieldCodec.h"

namespace {

const int32_t kHeaderLength = 44;

}  // namespace

WavAudioDataWriter::WavAudioDataWriter(const char* path, const AudioInfo* info, bool isWav)
    : AudioDataWriter(path), mIsWav(isWav) {
    mInfo = *info;
    if (!mAccess->isOpen()) return;

    if (mIsWav) {
        uint32_t bytes = pcmBytesPerSample(mInfo.pcm.bitDepth & 0xFF);
        uint32_t channels = getChannels();
        uint32_t rate = getSampleFrequency();
        uint8_t header[kHeaderLength] = {};
        uint8_t* p = header;
        writeByteField(p, 4, 0x52494646, AST_BIG_ENDIAN);
        writeByteField(p, 4, 36, AST_LITTLE_ENDIAN);
        writeByteField(p, 4, 0x57415645, AST_BIG_ENDIAN);
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
        int32_t n = mAccess->write(header, kHeaderLength);
        if (n != kHeaderLength) {
            astLog("[AST][ERR]Failed to write:%d.\n", n);
            return;
        }
        guardWavOutput(mAccess->descriptor());
        mGuarded = true;
    }
    mInvalid = false;
}

WavAudioDataWriter::~WavAudioDataWriter() { finish(); }

bool WavAudioDataWriter::finish() {
    if (mFinished) return mCompleted;
    mFinished = true;
    mCompleted = !mIsWav || completeHeader();
    // No more writes come, and the descriptor closes after this.
    if (mGuarded) guardWavOutput(-1);
    return mCompleted;
}

bool WavAudioDataWriter::completeHeader() {
    if (!seekReported(*mAccess, 0, 2)) return false;
    int32_t length = mAccess->tell();
    if (length < 0) {
        astLog("[AST][ERR]Failed to tell, ret=%d.\n", length);
        return false;
    }
    return completeHeaderField(40, static_cast<uint32_t>(length - kHeaderLength)) &&
           completeHeaderField(4, static_cast<uint32_t>(length - 8));
}

bool WavAudioDataWriter::completeHeaderField(int32_t offset, uint32_t value) {
    if (!seekReported(*mAccess, offset, 0)) return false;
    uint8_t field[4] = {};
    uint8_t* p = field;
    writeByteField(p, 4, value, AST_LITTLE_ENDIAN);
    int32_t n = mAccess->write(field, 4);
    if (n != 4) {
        astLog("[AST][ERR]Failed to write:%d.\n", n);
        return false;
    }
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
