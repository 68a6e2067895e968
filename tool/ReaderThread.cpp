#include "ReaderThread.h"

#include <unistd.h>

#include "ASTLog.h"
#include "ASTSignal.h"
#include "CodecParameter.h"
#include "KxAudioDecoder.h"
#include "TrackWriter.h"
#include "WavAudioDataWriter.h"

using audio::AUDIO_CODEC_PCM;

namespace {

// Empty reads in a row before a warning; the count lives for the whole process.
int32_t emptyReadCount = 0;
const int32_t kEmptyReadsPerWarning = 10;
const useconds_t kEmptyReadSleepUs = 8000;

}  // namespace

ReaderThread::ReaderThread(const char* name, int32_t priority) : ASTThread(name, priority), mPcmBuffer() {}

ReaderThread::~ReaderThread() {
    // The thread must be joined before its writer goes; the driver has done so already.
    stopAndJoin();
    delete mWriter;
    mWriter = nullptr;
}

void ReaderThread::run() {
    FrameBuffer frame;
    while (isRunning()) {
        int32_t n = mDecoder->readData(mPcmBuffer, sizeof(mPcmBuffer), 0);
        if (n <= 0) {
            if (++emptyReadCount > kEmptyReadsPerWarning) {
                astLog("[AST][WRN]Failed to read PCM data.\n");
                emptyReadCount = 0;
            }
            usleep(kEmptyReadSleepUs);
            continue;
        }
        if (n > static_cast<int32_t>(sizeof(mPcmBuffer))) n = sizeof(mPcmBuffer);
        mDecodedBytes += n;
        if (mWriter == nullptr) {
            if (createWriter() != 0) {
                mOutputLost = true;
                break;
            }
        } else {
            noteFormatChange();
        }
        frame.data = mPcmBuffer;
        frame.length = n;
        if (mWriter->write(&frame) != n) {
            astLog("[AST][WRN]Failed to write PCM data.\n");
            mOutputLost = true;
            break;
        }
        mPcmBytes += n;
        if (mFrameBytes > 0) mFramesOut += n / mFrameBytes;
    }
}

// The decoder converts what it decodes to the layout the output was made for; a read never
// spans a change, so the frames written so far place it exactly.
void ReaderThread::noteFormatChange() {
    audio::audio_codec_parameter_t asParam{};
    if (mDecoder->getOutputParameter(&asParam) != 0) return;
    int32_t codec = -1;
    AudioInfo info{};
    fromCodecParameter(&asParam, &codec, &info);
    const int32_t rate = static_cast<int32_t>(info.sampleFrequency);
    const int32_t channels = static_cast<int32_t>(info.channelMap);
    if (rate == mDecodedRate && channels == mDecodedChannels) return;
    mDecodedRate = rate;
    mDecodedChannels = channels;
    astLog("[AST][WRN]Decoded audio changes at sample %lld to %d Hz, %d channel(s); converted to %d Hz, %d "
           "channel(s).\n",
           static_cast<long long>(mFramesOut), rate, channels, mOutputRate, mOutputChannels);
}

bool ReaderThread::finishOutput() {
    bool complete = mWriter == nullptr || mWriter->finish();
    return complete && !mOutputLost;
}

int32_t ReaderThread::createWriter() {
    audio::audio_codec_parameter_t asParam{};
    int32_t ret = mDecoder->getOutputParameter(&asParam);
    astLog("[AST][INF]Encode params:codec=%d sampleRate=%d chanels=%d channelMap=%d pcm.format=%d.\n",
           asParam.codecType, asParam.sampleRate, asParam.channels, static_cast<int32_t>(asParam.channelMap),
           asParam.pcm.format);
    const char* signature = "int32_t ReaderThread::createWriter()";
    AST_ASSERT(ret == 0, "createWriter", 322, "main", signature);
    AST_ASSERT(asParam.codecType == AUDIO_CODEC_PCM, "createWriter", 323, "main", signature);
    AST_ASSERT(asParam.channels || asParam.channelMap, "createWriter", 324, "main", signature);

    int32_t codec = -1;
    AudioInfo info{};
    fromCodecParameter(&asParam, &codec, &info);
    if (codec != 0) {
        astLog("[AST][ERR]Native current encode type(%d) is unsupported so far.\n", codec);
        return -1;
    }
    mOutputRate = mDecodedRate = static_cast<int32_t>(info.sampleFrequency);
    mOutputChannels = mDecodedChannels = static_cast<int32_t>(info.channelMap);
    mFrameBytes = asParam.pcm.blockAlign;
    if (mSavePath != nullptr)
        mWriter = new WavAudioDataWriter(mSavePath, &info, mIsWav, mRoomForRf64);
    else
        mWriter = new TrackWriter(&info);
    return 0;
}
