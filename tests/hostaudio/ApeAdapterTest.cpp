// The APE adapter on the reader's chunks of a hand-built file whose frames end anywhere in a
// word and in a chunk, which encoders do not make: every rebuilt packet must be what
// libavformat's ape demuxer makes of the same frame (block count, byte offset into the first
// word, then the file's words that cover the frame).
#include "ApeAudioDataReader.h"
#include "ApeFile.h"
#include "HostAudioTestUtil.h"

namespace {

Bytes demuxerPacket(const testsupport::ApeFile& f, size_t frame, uint32_t blocks, size_t length) {
    size_t start = f.seekTable[frame] - f.audioStart;
    Bytes p;
    testsupport::appendLe(p, blocks, 4);
    testsupport::appendLe(p, uint32_t(start & 3), 4);
    for (size_t at = f.audioStart + (start & ~size_t(3)); at < f.audioStart + ((start + length + 3) & ~size_t(3)); ++at)
        p.push_back(at < f.audioEnd ? f.bytes[at] : 0);
    return p;
}

TEST(ApeAdapter, PacketsAreTheDemuxersWhateverTheFrameBoundaries) {
    testsupport::ApeLayout l;
    l.frameLengths = {1, 2, 3, 5, 1023, 1021, 7, 1, 1, 1, 2048, 11};
    l.tailBytes = 7;  // never delivered
    const testsupport::ApeFile file = testsupport::buildApe(l);
    testsupport::TempDir dir;
    const std::string path = dir.path("a.ape");
    testsupport::writeFile(path, file.bytes);
    std::vector<Fed> units;
    for (Bytes& u : readerUnits<ApeAudioDataReader>(path)) units.push_back({std::move(u), ""});
    CapturedPackets out;
    expectProblems(*hostaudio::makeApeAdapter(), codecRecord(audio::AUDIO_CODEC_APE, 0, 0), units, out);

    EXPECT_EQ(1u, out.setups.size());  // the setup itself is checked end to end
    ASSERT_EQ(l.frameLengths.size(), out.packets.size());
    for (size_t k = 0; k < out.packets.size(); ++k) {
        const bool last = k + 1 == out.packets.size();
        EXPECT_EQ(demuxerPacket(file, k, last ? l.finalFrameBlocks : l.blocksPerFrame, l.frameLengths[k]),
                  out.packets[k])
            << "frame " << k;
    }
}

}  // namespace
