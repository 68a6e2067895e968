// The shared half of compressed decoding: a libavcodec decoder fed by a format adapter,
// its frames converted by libswresample into the service's interleaved PCM.
#pragma once

#include <memory>

#include "DecoderBackend.h"
#include "FormatAdapter.h"

namespace hostaudio {

std::unique_ptr<DecoderBackend> makeFfmpegBackend(std::unique_ptr<FormatAdapter> adapter);

// The adapter for a platform format code, or null when there is none.
std::unique_ptr<FormatAdapter> makeFormatAdapter(int32_t codecType);

}  // namespace hostaudio
