// PCM played on the platform's realtime track "RealtimeTrack", routed to the output "main".
#pragma once

#include "AudioDataWriter.h"

namespace audio {
class KxAudioTrack;
}

class TrackWriter : public AudioDataWriter {
public:
    explicit TrackWriter(const AudioInfo* info);
    ~TrackWriter() override;

    int32_t write(const FrameBuffer* frame) override;

private:
    audio::KxAudioTrack* mTrack;
    const char* mTrackName;
};
