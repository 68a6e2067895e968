// WAV files and headerless PCM (described by the command line), in frames of a fixed duration.
#pragma once

#include "AudioDataReader.h"

class WavAudioDataReader : public AudioDataReader {
public:
    WavAudioDataReader(const char* path, const AudioInfo* rawPcmInfo, uint32_t frameDurationMs);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    void describe() override;
    int32_t getFrameLength() override;

private:
    struct Format;

    // Header length (above 0), -1 for a header that is not parsed (the file is raw PCM then), or
    // kRefused for a WAV file whose samples are not integer PCM.
    int64_t parseWavHeader();
    // The chunks from behind "WAVE" to "data"; false when the walk fails.
    bool walkChunks(ByteCursor& head, bool rf64, Format& format);
    void parseFormat(ByteCursor& c, uint32_t size, Format& format);
    // Reads the 8-byte chunk head at the current position.
    bool readChunkHead(uint32_t& id, uint32_t& size);
    // Checks the format and fills the audio info; false when it is refused.
    bool useFormat(const Format& format);
    // Spreads `samples` 24-bit samples at `from` in the frame to 32 bits from the frame's start.
    void widen(int32_t from, int32_t samples);

    AudioInfo mRawPcmInfo;
    uint32_t mFrameDurationMs;
    int64_t mHeaderLength = 0;
    uint32_t mFrameChannels = 0;
    bool mWiden = false;
    int64_t mFileSize = 0;
    int64_t mPosition = 0;
    int64_t mDataEnd = -1;  // -1: the audio runs to the end of the file
};
