// RealAudio in a RealMedia file: the headers are parsed and reported, no frame is handed out.
#pragma once

#include "AudioDataReader.h"

class RaAudioDataReader : public AudioDataReader {
public:
    explicit RaAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    void describe() override;

private:
    bool parseRaAudioHeader();
    bool readChunkHead(uint32_t& tag, uint32_t& size);
    bool parseRmfHeader();
    bool parseChunks(uint16_t chunkCount);
    // The body parses are false only when a field would lie past the chunk's body.
    bool parseProp(ByteCursor& c);
    bool parseMdpr(ByteCursor& c);
    bool parseAudioLayout(ByteCursor& c);
    bool parseLogicalStream(ByteCursor& c);
    bool parseData(ByteCursor& c);

    int32_t mDataPos = 0;
};
