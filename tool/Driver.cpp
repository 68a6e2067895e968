#include "Driver.h"

#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "ASTLog.h"
#include "ASTSignal.h"
#include "AudioDataReader.h"
#include "CodecParameter.h"
#include "Codecs.h"
#include "DecoderArgs.h"
#include "FormatTable.h"
#include "KxAudioDecoder.h"
#include "ReaderThread.h"

namespace {

const char kReaderThreadName[] = "ASTDecoder-ReaderThread";
const int32_t kReaderThreadPriority = 50;

// Everything the run owns, released in the fixed order whatever way the run ends.
struct Run {
    AudioDataReader* reader = nullptr;
    ReaderThread* thread = nullptr;
    audio::KxAudioDecoder* decoder = nullptr;
    int64_t decodedBytes = 0, pcmBytes = 0;  // known after tearDown

    // False when the output lost any bytes.
    bool tearDown() {
        bool outputComplete = true;
        if (thread != nullptr) {
            thread->stopAndJoin();
            outputComplete = thread->finishOutput();
            decodedBytes = thread->decodedBytes();
            pcmBytes = thread->pcmBytes();
            delete thread;
            thread = nullptr;
        }
        delete reader;
        reader = nullptr;
        if (decoder != nullptr) audio::KxAudioDecoder::destroy(decoder);
        decoder = nullptr;
        return outputComplete;
    }
    ~Run() { tearDown(); }
};

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The save path names the input or the log's own stream, through any link or /dev/fd name: the
// output would destroy the input or mix with the log lines. Checked against the open input, as
// the output is opened only once PCM arrives. /dev/null takes both without harm.
bool outputRefused(const char* save, int inputFd) {
    struct stat out, other;
    if (stat(save, &out) != 0) return false;  // a new file is no other one
    if (S_ISCHR(out.st_mode) && out.st_rdev == makedev(1, 3)) return false;
    if (inputFd >= 0 && fstat(inputFd, &other) == 0 && sameFile(out, other)) {
        astLog("[AST][ERR]Save file is the file to decode, please input another one.\n");
        return true;
    }
    if (fstat(STDOUT_FILENO, &other) == 0 && sameFile(out, other)) {
        astLog("[AST][ERR]Save file is the log's standard output, please input another one.\n");
        return true;
    }
    return false;
}

// An input longer than this, or of unknown length, may decode to a WAV output past 4 GiB: PCM
// widens at most fourfold.
const int64_t kRf64InputLength = (int64_t(1) << 30) - 1024;

bool mayPass4GiB(int inputFd) {
    struct stat st;
    return fstat(inputFd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kRf64InputLength;
}

// Feeds every frame to the decoder, counting them; false when the decoder took less than offered.
bool feed(AudioDataReader* reader, audio::KxAudioDecoder* decoder, int64_t& units) {
    for (;;) {
        FrameBuffer* frame = reader->readFrame();
        if (frame->length < 1 || frame->data == nullptr || stopRequested.load()) return true;
        if (decoder->writeData(frame->data, frame->length, 1) != frame->length) {
            astLog("[AST][ERR]Failed to write audio data.\n");
            return false;
        }
        ++units;
    }
}

}  // namespace

int runDecoder(int argc, const char* const* argv) {
    ensureStandardDescriptors();
    if (installSignalHandlers(onSignal) < 0) {
        astLog("[AST][ERR]Failed to init signal.\n");
        return -1;
    }

    DecoderArgs args;
    if (!parseDecoderArgs(argc, argv, &args)) return -1;

    // Names and paths as log text: no value forges a line.
    const std::string name = escapeText(args.name);
    astLog("[AST][INF]Args:\nprogressName:%s\nname=%s\ndecodeFile=%s\nsaveFile=%s\n",
           escapeText(args.progressName).c_str(), name.c_str(), escapeText(args.decodeFile).c_str(),
           escapeText(args.saveFile).c_str());
    prctl(PR_SET_NAME, args.progressName, 0, 0, 0);

    const char* suffix = fileSuffix(args.decodeFile);
    if (suffix == nullptr) {
        astLog("[AST][ERR]Unknown file type.\n");
        return -1;
    }
    bool isWav = strcmp(suffix, "wav") == 0;
    int32_t codec = codecOfSuffix(suffix);
    astLog("[AST][INF]File suffix=%s, codec=%d.\n", escapeText(suffix).c_str(), codec);

    AudioInfo rawPcmInfo{};
    rawPcmInfo.sampleFrequency = static_cast<uint32_t>(args.sampleFrequency);
    rawPcmInfo.channelMap = static_cast<uint32_t>(args.channel);
    rawPcmInfo.pcm.bitDepth = static_cast<uint32_t>(args.bitDepth);

    // A pipe fails such a reader's first seek with a line that tells the user nothing.
    struct stat input;
    if (needsSeekableInput(codec) && stat(args.decodeFile, &input) == 0 && !S_ISREG(input.st_mode) &&
        !S_ISBLK(input.st_mode)) {
        astLog("[AST][ERR]Input is not seekable, %s files are read from regular files only.\n",
               escapeText(suffix).c_str());
        return -1;
    }

    Run run;
    run.reader = createAudioDataReader(codec, args.decodeFile, &rawPcmInfo);
    if (run.reader == nullptr) {
        astLog("[AST][ERR]Failed to create audio data reader.\n");
        return -1;
    }
    if (run.reader->isInvalid()) {
        astLog("[AST][ERR]Invalid audio data reader.\n");
        return -1;
    }
    if (args.saveFile[0] != '\0' && outputRefused(args.saveFile, run.reader->inputDescriptor())) return -1;

    // The decoder takes what the file holds, which a container's reader may find to differ from
    // what its suffix chose.
    if (run.reader->getFoundCodec() != CODEC_NONE) codec = run.reader->getFoundCodec();
    audio::audio_codec_parameter_t param{};
    toCodecParameter(&param, codec, run.reader->getAudioInfo());
    run.decoder = audio::KxAudioDecoder::create(&param);
    if (run.decoder == nullptr) {
        astLog("[AST][ERR]Failed to create audio decoder(%s).\n", name.c_str());
        return -1;
    }
    sleep(1);

    run.thread = new ReaderThread(kReaderThreadName, kReaderThreadPriority);
    run.thread->setDecoder(run.decoder);
    run.thread->setIsWav(isWav);
    run.thread->setRoomForRf64(isWav && mayPass4GiB(run.reader->inputDescriptor()));
    run.thread->setSavePath(args.saveFile[0] != '\0' ? args.saveFile : nullptr);
    if (!run.thread->start()) {
        astLog("[AST][ERR]Failed to start pcm data reader thread.\n");
        return -1;
    }

    int64_t units = 0;
    if (!feed(run.reader, run.decoder, units)) return -1;

    astLog("[AST][WRN]Read audio data stopped.\n");
    run.decoder->setEndOfStream();
    do {
        astLog("[AST][INF]Decoder(%s) is working still, waiting...\n", name.c_str());
        sleep(1);
    } while (run.decoder->isFinished() == 0);
    const bool complete = run.tearDown();
    // A decoder that refuses every unit would otherwise end in a clean exit and an empty output.
    if (units > 0 && run.decodedBytes == 0) {
        astLog("[AST][ERR]No audio was decoded from %lld units.\n", static_cast<long long>(units));
        return -1;
    }
    if (units > 0)
        astLog("[AST][INF]Handed %lld units to the decoder, wrote %lld PCM bytes.\n", static_cast<long long>(units),
               static_cast<long long>(run.pcmBytes));
    return complete ? 0 : -1;
}
