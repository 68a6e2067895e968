#include "TrackWriter.h"

#include "ASTLog.h"
#include "KxAudioSetting.h"
#include "KxAudioTrack.h"
#include "PcmParameter.h"

namespace {

const char kOutputName[] = "main";

}  // namespace

TrackWriter::TrackWriter(const AudioInfo* info)
    : AudioDataWriter(nullptr), mTrack(nullptr), mTrackName("RealtimeTrack") {
    mInfo = *info;
    audio::audio_codec_parameter_t param{};
    toPcmParameter(&param, &mInfo);
    uint32_t byteCount = pcmBytesPerSecond(&mInfo) >> 7;

    mTrack = audio::KxAudioTrack::create(mTrackName, kOutputName, &param, byteCount);
    if (mTrack == nullptr) {
        astLog("[AST][ERR]Failed to create audio track(%s).\n", mTrackName);
        return;
    }

    audio::KxAudioSetting::Source* source = audio::KxAudioSetting::createSource();
    if (source == nullptr || source->selectOutputSource(kOutputName, mTrackName) != 0)
        astLog("[AST][WRN]Failed to select output source for audio track(%s).\n", mTrackName);
    if (source != nullptr) audio::KxAudioSetting::destroy(source);

    if (mTrack->clear() != 0) astLog("[AST][ERR]Failed to clear audio track before start(%s).\n", mTrackName);
    if (mTrack->start() != 0) {
        astLog("[AST][ERR]Failed to start audio track(%s).\n", mTrackName);
        audio::KxAudioTrack::destroy(mTrack);
        mTrack = nullptr;
        return;
    }
    mInvalid = false;
}

TrackWriter::~TrackWriter() {
    if (mTrack == nullptr) return;
    if (mTrack->stop() != 0) astLog("[AST][WRN]Failed to stop audio track(%s).\n", mTrackName);
    audio::KxAudioTrack::destroy(mTrack);
    mTrack = nullptr;
}

int32_t TrackWriter::write(const FrameBuffer* frame) {
    // Without a track nothing is played; a short count stops the reader thread.
    if (mTrack == nullptr || frame->data == nullptr) return 0;
    int32_t remaining = frame->length;
    const uint8_t* p = frame->data;
    while (remaining >= 1) {
        int32_t n = mTrack->write(p, remaining, 1);
        if (n < 0) {
            astLog("[AST][ERR]Failed to write data(%s).\n", mTrackName);
            break;
        }
        if (n > remaining) n = remaining;  // a track never takes more than offered
        p += n;
        remaining -= n;
    }
    return frame->length - remaining;
}
