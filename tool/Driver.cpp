#include "Driver.h"

#include <cstring>
#include <sys/prctl.h>
#include <sys/stat.h>
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

// Both paths name one existing file, through any link.
bool sameFile(const char* a, const char* b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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

    astLog("[AST][INF]Args:\nprogressName:%s\nname=%s\ndecodeFile=%s\nsaveFile=%s\n", args.progressName, args.name,
           args.decodeFile, args.saveFile);
    prctl(PR_SET_NAME, args.progressName, 0, 0, 0);
    if (args.saveFile[0] != '\0' && sameFile(args.decodeFile, args.saveFile)) {
        astLog("[AST][ERR]Save file is the file to decode, please input another one.\n");
        return -1;
    }

    const char* suffix = fileSuffix(args.decodeFile);
    if (suffix == nullptr) {
        astLog("[AST][ERR]Unknown file type.\n");
        return -1;
    }
    bool isWav = strcmp(suffix, "wav") == 0;
    int32_t codec = codecOfSuffix(suffix);
    astLog("[AST][INF]File suffix=%s, codec=%d.\n", suffix, codec);

    AudioInfo rawPcmInfo{};
    rawPcmInfo.sampleFrequency = static_cast<uint32_t>(args.sampleFrequency);
    rawPcmInfo.channelMap = static_cast<uint32_t>(args.channel);
    rawPcmInfo.pcm.bitDepth = static_cast<uint32_t>(args.bitDepth);

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

    // The decoder takes what the file holds, which a container's reader may find to differ from
    // what its suffix chose.
    if (run.reader->getFoundCodec() != CODEC_NONE) codec = run.reader->getFoundCodec();
    audio::audio_codec_parameter_t param{};
    toCodecParameter(&param, codec, run.reader->getAudioInfo());
    run.decoder = audio::KxAudioDecoder::create(&param);
    if (run.decoder == nullptr) {
        astLog("[AST][ERR]Failed to create audio decoder(%s).\n", args.name);
        return -1;
    }
    sleep(1);

    run.thread = new ReaderThread(kReaderThreadName, kReaderThreadPriority);
    run.thread->setDecoder(run.decoder);
    run.thread->setIsWav(isWav);
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
        astLog("[AST][INF]Decoder(%s) is working still, waiting...\n", args.name);
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
