// ALAC in MP4/M4A: the atom walk finds the ALAC sample description, the packet size table
// and the media data; each frame is one packet behind a 16-byte packet header. Packets are
// taken back to back from the start of 'mdat' (one track, no chunk tables).
#pragma once

#include <vector>

#include "AudioDataReader.h"

class AlacAudioDataReader : public AudioDataReader {
public:
    explicit AlacAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

    static const int32_t kPacketHeaderLength = 16;

protected:
    int32_t parseHeaders() override;
    int32_t getFrameLength() override;

private:
    bool parseAlacHeader();
    bool parseTopLevelAtoms();
    bool parseMoovChildAtoms(uint64_t remaining);
    bool parseStsdAtom(uint64_t bodyLength);
    bool parseStszAtom(uint64_t bodyLength);

    struct AtomHeader {
        uint64_t size;
        uint32_t type;
        uint32_t headerLength;
    };
    // The atom header at `position`, the current one. 1: an atom to handle; 0: the walk ends
    // there with success (end of file, or a size-0 atom, reported by `lastMessage`);
    // -1: the walk fails (message printed).
    int32_t readAtomHeader(uint64_t position, const char* lastMessage, AtomHeader& atom);
    // The body, allocating no more than the file still holds.
    ByteCursor readAtomBody(uint64_t length);

    // From the ALAC configuration record (the magic cookie).
    uint32_t mMaxSamplePerFrame = 0;
    uint8_t mSampleSize = 0;
    uint32_t mSampleRate = 0;

    int32_t mTotalFrames = 0;
    int32_t mFrameIndex = 0;
    std::vector<uint32_t> mFrameSizes;
    int32_t mMdatOffset = 0;
    uint8_t mPacketHeader[kPacketHeaderLength] = {};
    int64_t mFileEnd = 0;
};
