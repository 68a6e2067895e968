#include "AudioDataWriter.h"

#include "ASTFileAccess.h"

AudioDataWriter::AudioDataWriter(const char* path) : mInvalid(true), mInfo(), mAccess(new ASTFileAccess()) {
    if (path != nullptr) mAccess->open(path, ASTDataAccess::MODE_WRITE | ASTDataAccess::MODE_BINARY);
}

AudioDataWriter::~AudioDataWriter() {
    mAccess->close();
    delete mAccess;
}

uint32_t AudioDataWriter::getSampleFrequency() { return mInfo.sampleFrequency; }

uint32_t AudioDataWriter::getChannels() {
    uint8_t code = static_cast<uint8_t>(mInfo.channelMap & 0xFF);
    return (code == 1 || code == 2) ? code : 0;
}
