// Monkey's Audio (2560): a frame comes as a 20-byte frame header and then its bytes in chunks,
// every 32-bit word of the audio data byte-reversed (words counted from the first byte of the
// audio data), and a frame may end inside a word whose other bytes open the next frame's first
// chunk. Each frame is rebuilt as libavcodec's ape decoder takes it: the block count, the
// frame's byte offset into its first word, then the whole words that cover the frame in the
// file's own byte order.
#include <cstdio>
#include <deque>

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

const uint32_t kSyncWord = 0x41504573;  // "APEs"
const size_t kFrameHeaderBytes = 20;
const uint32_t kLastFrameBit = 0x80000000u;
// Far above any real frame (294912 blocks of 32-bit stereo stored raw is 2.4 MB), so that a
// damaged size cannot make the adapter hold the whole stream.
const uint32_t kMaxFrameBytes = 64u << 20;
// Older streams count the offset into the first word in bits.
const uint16_t kFirstByteSkipVersion = 3810;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

uint64_t alignUp(uint64_t at) { return (at + 3) & ~uint64_t(3); }

std::string format(const char* fmt, unsigned long a, unsigned long b = 0) {
    char text[160];
    snprintf(text, sizeof text, fmt, a, b);
    return text;
}

struct StreamParams {
    uint16_t version = 0;
    uint16_t compressionLevel = 0;
    uint8_t bitsPerSample = 0;
    uint8_t channels = 0;
    uint32_t sampleRate = 0;

    bool operator==(const StreamParams& o) const {
        return version == o.version && compressionLevel == o.compressionLevel && bitsPerSample == o.bitsPerSample &&
               channels == o.channels && sampleRate == o.sampleRate;
    }
};

struct Frame {
    uint64_t start;  // stream offset of its first byte
    uint32_t length;
    uint32_t blocks;
    bool last;
    uint64_t end() const { return start + length; }
};

class ApeAdapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        mBytes.clear();
        mBase = 0;
        mUnreversedFrom = UINT64_MAX;
        mLastUnitStart = 0;
        mFrames.clear();
        mRemaining = 0;
        mParams = StreamParams();
        return input.codecType == audio::AUDIO_CODEC_APE;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        size_t at = 0;
        if (mRemaining == 0) {
            if (!startFrame(data, length, out, problem)) return false;
            at = kFrameHeaderBytes;
        }
        size_t payload = length - at;
        size_t take = payload < mRemaining ? payload : mRemaining;
        mLastUnitStart = streamEnd();
        mBytes.insert(mBytes.end(), data + at, data + at + take);
        mRemaining -= uint32_t(take);
        bool decoded = emitReady(out, false, problem);
        if (take < payload) {
            problem = format("%lu bytes past the end of the frame", payload - take);
            return false;
        }
        return decoded;
    }

    void finish(PacketOutput& out) override {
        std::string problem;
        if (!mFrames.empty() && streamEnd() < mFrames.back().end()) {
            fprintf(stderr, "hostaudio: the last APE frame has %lu of its %lu bytes; decoding what came\n",
                    static_cast<unsigned long>(streamEnd() - mFrames.back().start),
                    static_cast<unsigned long>(mFrames.back().length));
            // A cut frame that stops inside a word ended on the file's short last read, whose
            // bytes come as they stand in the file (the bytes carried in before it are reversed).
            if (streamEnd() % 4 != 0) mUnreversedFrom = alignUp(mLastUnitStart);
        }
        if (!emitReady(out, true, problem)) fprintf(stderr, "hostaudio: %s\n", problem.c_str());
        mRemaining = 0;
    }

private:
    uint64_t streamEnd() const { return mBase + mBytes.size(); }

    bool startFrame(const uint8_t* h, size_t length, PacketOutput& out, std::string& problem) {
        if (length < kFrameHeaderBytes) {
            problem = format("a unit of %lu bytes cannot hold the APE frame header", length);
            return false;
        }
        if (be32(h) != kSyncWord) {
            problem = format("no APE frame header sync word at the start of the unit (%08lX)", be32(h));
            return false;
        }
        uint32_t frameSize = be32(h + 4);
        Frame frame{streamEnd(), frameSize & ~kLastFrameBit, be32(h + 12), (frameSize & kLastFrameBit) != 0};
        StreamParams params;
        params.version = uint16_t(h[8] << 8 | h[9]);
        params.compressionLevel = uint16_t(h[10] << 8 | h[11]);
        params.bitsPerSample = h[16];
        params.channels = h[17] >> 4;
        params.sampleRate = uint32_t(h[17] & 0x0F) << 16 | uint32_t(h[18]) << 8 | h[19];
        if (frame.length == 0 || frame.length > kMaxFrameBytes) {
            problem = format("an APE frame size of %lu bytes", frame.length);
            return false;
        }
        if (frame.blocks == 0) {
            problem = "an APE frame of no blocks";
            return false;
        }
        if (!out.isOpen() || !(params == mParams)) {
            std::string earlier;
            emitReady(out, true, earlier);  // frames of the old parameters go out first
            if (!out.open(setup(params))) {
                problem = format("the APE decoder cannot be opened for version %lu, %lu bits", params.version,
                                 params.bitsPerSample) +
                          format(", %lu channels at %lu Hz", params.channels, params.sampleRate);
                return false;
            }
            mParams = params;
        }
        mFrames.push_back(frame);
        mRemaining = frame.length;
        return true;
    }

    static CodecSetup setup(const StreamParams& p) {
        CodecSetup s;
        s.codecId = AV_CODEC_ID_APE;
        s.sampleRate = int(p.sampleRate);
        s.channels = p.channels;
        s.bitsPerCodedSample = p.bitsPerSample;
        uint16_t flags = p.bitsPerSample == 8 ? 0x01 : p.bitsPerSample == 24 ? 0x08 : 0;
        putLe(s.extradata, p.version, 2);
        putLe(s.extradata, p.compressionLevel, 2);
        putLe(s.extradata, flags, 2);
        return s;
    }

    // Hands over every frame whose words are all there. At the end of the stream nothing more
    // will come: a missing word tail is zero, and a cut frame goes with its whole words.
    bool emitReady(PacketOutput& out, bool ending, std::string& problem) {
        bool ok = true;
        while (!mFrames.empty()) {
            const Frame& f = mFrames.front();
            bool complete = streamEnd() >= (f.last ? f.end() : alignUp(f.end()));
            if (!complete && !ending) break;
            uint64_t wordsEnd = streamEnd() >= f.end() ? alignUp(f.end()) : streamEnd() & ~uint64_t(3);
            if (wordsEnd > f.start && out.isOpen()) {
                const std::string failure =
                    format("the APE frame at stream byte %lu (%lu bytes) does not decode", f.start, f.length);
                if (!sendPacket(f, wordsEnd, failure, out)) {
                    problem = failure;
                    ok = false;
                }
            }
            uint64_t keepFrom = streamEnd() < f.end() ? streamEnd() : f.end();
            keepFrom &= ~uint64_t(3);
            mBytes.erase(mBytes.begin(), mBytes.begin() + long(keepFrom - mBase));
            mBase = keepFrom;
            mFrames.pop_front();
        }
        return ok;
    }

    bool sendPacket(const Frame& f, uint64_t wordsEnd, const std::string& failure, PacketOutput& out) {
        uint32_t skip = uint32_t(f.start & 3);
        if (mParams.version < kFirstByteSkipVersion) skip <<= 3;
        mPacket.clear();
        putLe(mPacket, f.blocks, 4);
        putLe(mPacket, skip, 4);
        const uint64_t first = f.start & ~uint64_t(3);
        mPacket.resize(mPacket.size() + (wordsEnd - first));
        uint8_t* to = mPacket.data() + 8;
        for (uint64_t word = first; word < wordsEnd; word += 4, to += 4) {
            const uint8_t* from = mBytes.data() + (word - mBase);
            if (word + 4 > streamEnd()) {  // the stream's cut last word
                for (uint64_t i = 0; i < 4; ++i) {
                    uint64_t at = word < mUnreversedFrom ? word + 3 - i : word + i;
                    to[i] = at < streamEnd() ? mBytes[at - mBase] : 0;
                }
            } else if (word < mUnreversedFrom) {
                to[0] = from[3], to[1] = from[2], to[2] = from[1], to[3] = from[0];
            } else {
                to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = from[3];
            }
        }
        return out.packet(mPacket.data(), mPacket.size(), failure);
    }

    std::vector<uint8_t> mBytes;  // the stream as it came, from mBase (a word boundary) on
    uint64_t mBase = 0;
    uint64_t mUnreversedFrom = UINT64_MAX;
    uint64_t mLastUnitStart = 0;
    std::deque<Frame> mFrames;  // begun and not yet handed over
    uint32_t mRemaining = 0;    // bytes the newest frame still expects
    StreamParams mParams;
    std::vector<uint8_t> mPacket;
};

}  // namespace

std::unique_ptr<FormatAdapter> makeApeAdapter() { return std::make_unique<ApeAdapter>(); }

}  // namespace hostaudio
