// Ogg files: the pages' packets, joined across pages, one per frame behind an 8-byte prefix.
// Packets are handed out as they stand, codec headers included. Of several logical streams only
// the first whose codec the decoder takes (Vorbis, Opus, FLAC) is handed out; the links of a
// chain (a stream beginning after the last one ended) follow each other.
#pragma once

#include <vector>

#include "AudioDataReader.h"

class OggAudioDataReader : public AudioDataReader {
public:
    explicit OggAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

    // The prefix's 16-bit size field bounds a packet to this many bytes.
    static const int32_t kMaxPacketLength = 65535 - 8;

protected:
    int64_t parseHeaders() override;

private:
    bool parseOggPageHeader();
    // Whether the page whose header and lacing were just read carries the stream handed out;
    // at a stream's first page, when none is handed out, that stream is chosen if it decodes.
    bool handsOut(const uint8_t* lacing);
    // Names a skipped stream, once; always false.
    bool skipStream(uint32_t serial);
    bool named(uint32_t serial) const;
    // Appends the next page's packet data to the queue; the complete count, or -1.
    int32_t readPage();

    uint8_t mPageTypeFlag = 0;
    uint32_t mStreamSerialNumber = 0;
    uint8_t mSegmentNumber = 0;

    // The logical stream handed out, once one is chosen, and whether its last page was read.
    uint32_t mSerial = 0;
    bool mChosen = false;
    bool mEnded = false;
    // The streams skipped so far; past this many, further ones are skipped unnamed.
    static const int32_t kNamedStreams = 32;
    uint32_t mSkipped[kNamedStreams] = {};
    int32_t mSkippedCount = 0;

    // Packet bytes in file order: the complete packets not yet handed out, then the one still
    // being joined. One block reused for the whole file, so steady reading allocates nothing.
    std::vector<uint8_t> mQueue;
    int32_t mQueueHead = 0;  // first byte not handed out
    int32_t mQueueEnd = 0;   // end of the queued bytes
    // Lengths of the complete packets in the queue; pages are read only once it is empty, and a
    // page completes at most 255 packets.
    int32_t mPacketLengths[255] = {};
    int32_t mPacketHead = 0;
    int32_t mCompleteCount = 0;
    // Bytes queued behind the last complete packet: the packet still being joined.
    int32_t mPendingLength = 0;
    // Set once a packet too long to frame was met; no page is read after it.
    bool mStopped = false;
    uint8_t mPacketPrefix[8] = {};
    uint16_t mRiscCnt = 0;
};
