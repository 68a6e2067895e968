#include "Mp4AudioDataReader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "Codecs.h"
#include "Mp4FourCc.h"

namespace {

const uint64_t kMaxPosition = INT64_MAX;  // file positions are 64-bit signed
const uint32_t kTopLevel = 0;
const uint32_t kHandlerBytes = 12;  // version and flags, pre_defined, handler_type

}  // namespace

Mp4AudioDataReader::Mp4AudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t Mp4AudioDataReader::parseHeaders() {
    mFileEnd = std::max<int64_t>(fileLength(), 0);
    if (walkTopLevel() < 0) return -1;
    if (mMdatOffset <= 0) {
        astLog("[AST][ERR]No 'mdat' atom found.\n");
        return -1;
    }
    if (!mFoundTrack) {
        astLog("[AST][ERR]Found no audio track.\n");
        return -1;
    }
    if (!mTrack.stsd.holds()) {
        astLog("[AST][ERR]Found no 'stsd' atom in the audio track.\n");
        return -1;
    }
    if (!mEntry.parse(mTrack.stsd) || !mTrack.table.check(static_cast<uint64_t>(mFileEnd))) return -1;
    if (mEntry.kind() == Mp4SampleEntry::MPEG && !readFirstMpegFrame()) return -1;

    if (mEntry.kind() != Mp4SampleEntry::ALAC) mFoundCodec = mEntry.codec();
    mapSampleRate(mEntry.sampleRate());
    mapChannel(mEntry.channels());
    mInfo.mpeg.layer = mEntry.mpegLayer();
    return mMdatOffset;
}

void Mp4AudioDataReader::describe() {
    if (mFoundCodec != CODEC_NONE)
        astLog("[AST][INF]MP4 sample entry '%s' holds %s, codec=%d.\n", fourCcText(mEntry.format()).c_str(),
               mEntry.name(), mFoundCodec);
    printSummary(mEntry.parserName());
}

bool Mp4AudioDataReader::readFirstMpegFrame() {
    Mp4SampleTable::Sample sample{};
    Mp4SampleTable::Step step;
    while ((step = mTrack.table.next(sample)) == Mp4SampleTable::SAMPLE && sample.size == 0) {
    }
    uint8_t header[4] = {};
    if (step == Mp4SampleTable::SAMPLE && sample.size >= 4 && sample.offset + 4 <= static_cast<uint64_t>(mFileEnd) &&
        seekTo(static_cast<int64_t>(sample.offset)))
        readFully(header, 4);
    mTrack.table.rewind();
    return mEntry.takeFirstFrame(header);
}

int32_t Mp4AudioDataReader::readAtom(uint64_t position, Atom& atom) {
    if (position > kMaxPosition || !seekTo(static_cast<int64_t>(position))) return -1;
    uint8_t head[16];
    if (readFully(head, 8) != 8) return mAccess->isEof() ? 0 : -1;
    ByteCursor c(head, 8);
    atom.start = position;
    atom.size = c.be(4);
    atom.type = c.be(4);
    atom.headerLength = 8;
    atom.toEnd = atom.size == 0;
    if (atom.toEnd) {
        atom.size = static_cast<uint64_t>(mFileEnd) > position ? static_cast<uint64_t>(mFileEnd) - position : 0;
    } else if (atom.size == 1) {
        if (readFully(head + 8, 8) != 8) return mAccess->isEof() ? 0 : -1;
        ByteCursor large(head + 8, 8);
        atom.size = large.be64();
        atom.headerLength = 16;
    }
    astLog("[AST][INF]atom:%s\n", fourCcText(atom.type).c_str());

    // A size below the header would walk backwards; one past the largest position cannot be reached.
    if (atom.size < atom.headerLength) {
        astLog("[AST][ERR]Atom size %llu is smaller than its header.\n", static_cast<unsigned long long>(atom.size));
        return -1;
    }
    if (atom.size > kMaxPosition - position) {
        astLog("[AST][ERR]Atom at %llu of size %llu reaches beyond the largest file position.\n",
               static_cast<unsigned long long>(position), static_cast<unsigned long long>(atom.size));
        return -1;
    }
    return 1;
}

int32_t Mp4AudioDataReader::walkTopLevel() {
    uint64_t position = 0;
    for (;;) {
        Atom atom;
        int32_t done = readAtom(position, atom);
        if (done > 0) done = takeAtom(kTopLevel, atom);
        if (done <= 0) return done;
        if (atom.toEnd) {
            astLog("[AST][INF]Last top atom reached.\n");
            return 1;
        }
        position = atom.start + atom.size;
    }
}

int32_t Mp4AudioDataReader::walkChildren(uint32_t parent, uint64_t position, uint64_t end) {
    // Fewer bytes than a header at the end of a container are padding.
    while (position + 8 <= end) {
        Atom atom;
        int32_t done = readAtom(position, atom);
        if (done > 0 && atom.toEnd) {
            astLog("[AST][INF]Last moov child atom reached.\n");
            return 1;
        }
        if (done > 0) done = takeAtom(parent, atom);
        if (done <= 0) return done;
        position = atom.start + atom.size;
    }
    return 1;
}

int32_t Mp4AudioDataReader::takeAtom(uint32_t parent, const Atom& atom) {
    const uint64_t body = atom.start + atom.headerLength, end = atom.start + atom.size;
    const int32_t bodyLength = static_cast<int32_t>(end - body);  // within 2 GiB (readAtom)
    // Tables are kept for the track being walked until it is known to be another kind.
    const bool collecting = mInTrack && !mFoundTrack && (mTrack.handler == 0 || mTrack.handler == fourCc("soun"));
    // The containers on the way to the sample tables, each in its own parent.
    static const uint32_t kPath[][2] = {{kTopLevel, fourCc("moov")},
                                        {fourCc("moov"), fourCc("trak")},
                                        {fourCc("trak"), fourCc("mdia")},
                                        {fourCc("mdia"), fourCc("minf")},
                                        {fourCc("minf"), fourCc("stbl")}};
    for (const auto& step : kPath) {
        if (parent != step[0] || atom.type != step[1]) continue;
        if (atom.type != fourCc("trak")) return walkChildren(atom.type, body, end);
        if (!mFoundTrack) mTrack = Track();
        mInTrack = true;
        const int32_t done = walkChildren(atom.type, body, end);
        mInTrack = false;
        if (!mFoundTrack) {
            mFoundTrack = mTrack.handler == fourCc("soun");
            if (!mFoundTrack) mTrack = Track();
        }
        return done;
    }

    if (parent == kTopLevel) {
        switch (atom.type) {
        case fourCc("mdat"): mMdatOffset = static_cast<int32_t>(body); break;
        case fourCc("moof"): astLog("[AST][ERR]Fragmented MP4 file ('moof' atom), not supported.\n"); return -1;
        case fourCc("ftyp"):
        case fourCc("free"):
        case fourCc("skip"):
        case fourCc("pdin"):
        case fourCc("mfra"):
        case fourCc("meta"):
        case fourCc("meco"): break;
        default: astLog("[AST][WRN]Unexpecte top atom.\n"); break;
        }
        return 1;
    }
    if (!collecting) return 1;
    if (parent == fourCc("mdia") && atom.type == fourCc("hdlr") && bodyLength >= static_cast<int32_t>(kHandlerBytes)) {
        uint8_t handler[kHandlerBytes];
        if (readFully(handler, kHandlerBytes) != static_cast<int32_t>(kHandlerBytes)) return mAccess->isEof() ? 0 : -1;
        ByteCursor c(handler, kHandlerBytes);
        c.skip(8);
        mTrack.handler = c.be(4);
        return 1;
    }
    if (parent != fourCc("stbl")) return 1;
    switch (atom.type) {
    case fourCc("stsd"):
    case fourCc("stsz"):
    case fourCc("stz2"):
    case fourCc("stsc"):
    case fourCc("stco"):
    case fourCc("co64"): {
        ByteCursor table = readClaimed(bodyLength);
        if (!table.ok()) return -1;
        if (atom.type == fourCc("stsd"))
            mTrack.stsd = std::move(table);
        else
            mTrack.table.take(atom.type, std::move(table));
        return 1;
    }
    default: return 1;
    }
}

void Mp4AudioDataReader::splitSyncFrame(int32_t length) {
    const uint8_t* d = mFrame.data;
    mFrame.length = length;
    mPending = 0;
    if (mEntry.kind() != Mp4SampleEntry::EAC3 || length < 6 || d[0] != 0x0B || d[1] != 0x77) return;
    const int32_t bitStreamId = d[5] >> 3;
    const int32_t frame = ((d[2] & 7) << 8 | d[3]) * 2 + 2;
    if (bitStreamId < 11 || bitStreamId > 16 || frame >= length) return;
    mFrame.length = frame;
    mPending = length - frame;
}

FrameBuffer* Mp4AudioDataReader::readFrame() {
    if (mPending > 0) {
        memmove(mFrame.data, mFrame.data + mFrame.length, static_cast<size_t>(mPending));
        splitSyncFrame(mPending);
        return &mFrame;
    }
    mFrame.length = 0;
    Mp4SampleTable& table = mTrack.table;
    Mp4SampleTable::Sample sample{};
    Mp4SampleTable::Step step;
    while ((step = table.next(sample)) == Mp4SampleTable::SAMPLE && sample.size == 0) {
    }
    if (step == Mp4SampleTable::END) astLog("[AST][WRN]No more frame to read.\n");
    if (step != Mp4SampleTable::SAMPLE) return &mFrame;
    if (sample.size > mEntry.longestSample()) {
        astLog("[AST][ERR]Sample %u of %u bytes is longer than a unit can be.\n", sample.index + 1, sample.size);
        return &mFrame;
    }
    if (sample.offset > static_cast<uint64_t>(mFileEnd)) {
        astLog("[AST][ERR]Sample %u lies at %llu, past the end of the file.\n", sample.index + 1,
               static_cast<unsigned long long>(sample.offset));
        return &mFrame;
    }

    // A size past the end of the file reads what is there, as a short read.
    const int32_t prefix = mEntry.prefixLength();
    const int64_t available = mFileEnd - static_cast<int64_t>(sample.offset);
    const int32_t take = static_cast<int32_t>(std::min<int64_t>(sample.size, available));
    // The first sample sizes the block for the largest one the file can hold, so that reading
    // on never allocates.
    if (mFrame.capacity == 0)
        mFrame.reserve(static_cast<int32_t>(std::min<int64_t>(
                           {int64_t{table.largestSample()}, int64_t{mEntry.longestSample()}, mFileEnd})) +
                       prefix);
    if (!mFrame.reserve(take + prefix) || mFrame.capacity < take + prefix) return &mFrame;
    if (!seekTo(static_cast<int64_t>(sample.offset))) return &mFrame;

    const int32_t n = take > 0 ? std::max(mAccess->read(mFrame.data + prefix, take), 0) : 0;
    if (n == static_cast<int32_t>(sample.size)) {
        mEntry.writePrefix(mFrame.data, sample.size, sample.index + 1 == table.sampleCount());
        splitSyncFrame(n + prefix);
    } else if (n == take || mAccess->isEof()) {
        astLog("[AST][INF]Reached end of data:%d.\n", n);
    } else {
        astLog("[AST][ERR]Failed to read:%d.\n", n);
    }
    return &mFrame;
}
