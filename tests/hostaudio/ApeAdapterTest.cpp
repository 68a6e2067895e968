// The APE adapter against the reader's chunks of hand-built files: every rebuilt packet must be
// what libavformat's ape demuxer makes of the same frame (block count, byte offset into the
// first word, then the file's words that cover the frame).
#include <gtest/gtest.h>

#include "ApeAudioDataReader.h"
#include "ApeFile.h"
#include "FormatAdapter.h"

using testsupport::ApeLayout;

namespace {

struct Captured final : hostaudio::PacketOutput {
    bool open(const hostaudio::CodecSetup& s) override {
        setups.push_back(s);
        return true;
    }
    bool isOpen() const override { return !setups.empty(); }
    bool packet(const uint8_t* data, size_t length) override {
        packets.emplace_back(data, data + length);
        return true;
    }
    std::vector<hostaudio::CodecSetup> setups;
    std::vector<std::vector<uint8_t>> packets;
};

std::vector<uint8_t> demuxerPacket(const testsupport::ApeFile& f, size_t frame, uint32_t blocks, size_t length) {
    size_t start = f.seekTable[frame] - f.audioStart;
    std::vector<uint8_t> p;
    testsupport::appendLe(p, blocks, 4);
    testsupport::appendLe(p, uint32_t(start & 3), 4);
    for (size_t at = f.audioStart + (start & ~size_t(3)); at < f.audioStart + ((start + length + 3) & ~size_t(3)); ++at)
        p.push_back(at < f.audioEnd ? f.bytes[at] : 0);
    return p;
}

// Runs the file's chunks through the adapter; problems are collected, one per unit.
std::vector<std::string> feed(const std::string& path, hostaudio::FormatAdapter& adapter, Captured& out) {
    std::vector<std::string> problems;
    testsupport::captureStdout([&] {
        ApeAudioDataReader reader(path.c_str());
        for (FrameBuffer* f = reader.readFrame(); f->length > 0; f = reader.readFrame()) {
            std::string problem;
            if (!adapter.unpack(f->data, size_t(f->length), out, problem)) problems.push_back(problem);
        }
    });
    adapter.finish(out);
    return problems;
}

TEST(ApeAdapter, PacketsAreTheDemuxersWhateverTheFrameBoundaries) {
    ApeLayout tiny;
    tiny.frameLengths = {1, 2, 3, 5, 1023, 1021, 7, 1, 1, 1, 2048, 11};
    tiny.tailBytes = 7;  // never delivered
    ApeLayout mono24;
    mono24.channels = 1;
    mono24.bitsPerSample = 24;
    mono24.rate = 96000;
    mono24.level = 4000;
    const ApeLayout layouts[] = {ApeLayout(), tiny, mono24};
    for (const ApeLayout& l : layouts) {
        testsupport::TempDir dir;
        testsupport::ApeFile file = testsupport::buildApe(l);
        std::string path = dir.path("a.ape");
        testsupport::writeFile(path, file.bytes);
        auto adapter = hostaudio::makeApeAdapter();
        audio::audio_codec_parameter_t record{};
        record.codecType = audio::AUDIO_CODEC_APE;
        ASSERT_TRUE(adapter->configure(record));
        Captured out;
        EXPECT_TRUE(feed(path, *adapter, out).empty());

        ASSERT_EQ(1u, out.setups.size());
        const hostaudio::CodecSetup& s = out.setups[0];
        EXPECT_EQ(AV_CODEC_ID_APE, s.codecId);
        EXPECT_EQ(int(l.rate), s.sampleRate);
        EXPECT_EQ(l.channels, s.channels);
        EXPECT_EQ(l.bitsPerSample, s.bitsPerCodedSample);
        std::vector<uint8_t> extradata;
        testsupport::appendLe(extradata, l.version, 2);
        testsupport::appendLe(extradata, l.level, 2);
        testsupport::appendLe(extradata, l.bitsPerSample == 24 ? 0x08 : 0, 2);
        EXPECT_EQ(extradata, s.extradata);
        ASSERT_EQ(l.frameLengths.size(), out.packets.size());
        for (size_t k = 0; k < out.packets.size(); ++k) {
            bool last = k + 1 == out.packets.size();
            EXPECT_EQ(demuxerPacket(file, k, last ? l.finalFrameBlocks : l.blocksPerFrame, l.frameLengths[k]),
                      out.packets[k])
                << "frame " << k;
        }
    }
}

}  // namespace
