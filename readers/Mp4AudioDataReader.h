// Audio in MP4/M4A: the atom walk finds the first audio track ('hdlr' 'soun'), its sample entry
// and its sample tables; each sample is then read at its own offset, in decode order, and handed
// out as the unit its coding takes (Mp4SampleEntry). A file that holds another coding than ALAC
// says so through getFoundCodec().
#pragma once

#include "AudioDataReader.h"
#include "Mp4SampleEntry.h"
#include "Mp4SampleTable.h"

class Mp4AudioDataReader : public AudioDataReader {
public:
    explicit Mp4AudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    void describe() override;

private:
    struct Atom {
        uint64_t start;
        uint64_t size;
        uint32_t type;
        uint32_t headerLength;
        bool toEnd;  // size 0: to the end of the file
    };
    // The atom at `position`. 1: an atom to handle; 0: the file ends there; -1: the walk fails
    // (printed).
    int32_t readAtom(uint64_t position, Atom& atom);
    // The walks return 1 when done, 0 at the end of the file, -1 on failure (printed).
    int32_t walkTopLevel();
    int32_t walkChildren(uint32_t parent, uint64_t position, uint64_t end);
    int32_t takeAtom(uint32_t parent, const Atom& atom);
    bool readFirstMpegFrame();
    // E-AC-3 samples may hold several sync frames; the decoder takes one at a time.
    void splitSyncFrame(int32_t length);

    // The track being walked, and whether it is the audio track taken.
    struct Track {
        uint32_t handler = 0;
        ByteCursor stsd;
        Mp4SampleTable table;
    };
    Track mTrack;
    bool mFoundTrack = false;
    bool mInTrack = false;

    Mp4SampleEntry mEntry;
    int32_t mMdatOffset = 0;
    int64_t mFileEnd = 0;
    int32_t mPending = 0;  // bytes of the sample behind the unit handed out last
};
