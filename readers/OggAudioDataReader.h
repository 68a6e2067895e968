// Ogg files: the pages' packets, joined across pages, one per frame behind an 8-byte prefix.
// Packets are handed out as they stand, codec headers included; pages of several logical
// streams come out in file order as one stream.
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
    int32_t parseHeaders() override;

private:
    bool parseOggPageHeader();
    // Appends the next page's packet data to the queue; the complete count, or -1.
    int32_t readPage();

    uint8_t mSegmentNumber = 0;

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
