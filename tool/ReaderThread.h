// Drains decoded PCM from the decoder into a file or a track, on a real-time thread.
#pragma once

#include <cstdint>

#include "ASTThread.h"

namespace audio {
class KxAudioDecoder;
}
class AudioDataWriter;

class ReaderThread : public ASTThread {
public:
    ReaderThread(const char* name, int32_t priority);
    ~ReaderThread() override;

    void setDecoder(audio::KxAudioDecoder* decoder) { mDecoder = decoder; }
    void setIsWav(bool isWav) { mIsWav = isWav; }
    // A WAV output that may pass 4 GiB gets room in its header to become RF64.
    void setRoomForRf64(bool room) { mRoomForRf64 = room; }
    // Null selects the track writer. A file gains nothing from real-time scheduling, so file
    // output may run without it; the track keeps its priority or does not start.
    void setSavePath(const char* savePath) {
        mSavePath = savePath;
        allowNormalScheduling(savePath != nullptr);
    }

    int32_t createWriter();
    // After the join: completes the output. False when any of it was lost: the writer could not
    // be created, a block was not written whole, or the output could not be completed.
    bool finishOutput();
    // After the join: the PCM bytes the decoder gave, and those the writer took.
    int64_t decodedBytes() const { return mDecodedBytes; }
    int64_t pcmBytes() const { return mPcmBytes; }

protected:
    void run() override;

private:
    // Says so when the decoder's description of the audio just read differs from the last one.
    void noteFormatChange();

    audio::KxAudioDecoder* mDecoder = nullptr;
    bool mIsWav = false;
    bool mRoomForRf64 = false;
    const char* mSavePath = nullptr;
    AudioDataWriter* mWriter = nullptr;
    bool mOutputLost = false;
    int64_t mDecodedBytes = 0;
    int64_t mPcmBytes = 0;
    // The output's layout as the writer was made for it, the decoded one last described, and
    // the sample frames written so far.
    int32_t mOutputRate = 0, mOutputChannels = 0, mFrameBytes = 0;
    int32_t mDecodedRate = 0, mDecodedChannels = 0;
    int64_t mFramesOut = 0;
    uint8_t mPcmBuffer[2048];
};
