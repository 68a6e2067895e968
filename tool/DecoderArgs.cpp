#include "DecoderArgs.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "ASTLog.h"
#include "AudioInfo.h"

const DecoderArgs kDefaultDecoderArgs = {"example0", "decoder0", "", "", 48000, 2, 16};

namespace {

enum class Target { Text, Number };

struct Option {
    const char* shortPrefix;
    const char* longPrefix;
    Target target;
    size_t offset;  // of the field inside DecoderArgs
    size_t size;    // of a text field
};

// Indexes into kOptions of the two paths, which are refused rather than cut.
enum { kFileOption = 2, kSaveOption = 3 };

const Option kOptions[] = {
    {"-g=", "--progress=", Target::Text, offsetof(DecoderArgs, progressName), sizeof(DecoderArgs::progressName)},
    {"-n=", "--name=", Target::Text, offsetof(DecoderArgs, name), sizeof(DecoderArgs::name)},
    {"-f=", "--file=", Target::Text, offsetof(DecoderArgs, decodeFile), sizeof(DecoderArgs::decodeFile)},
    {"-v=", "--save=", Target::Text, offsetof(DecoderArgs, saveFile), sizeof(DecoderArgs::saveFile)},
    {"-s=", "--sample=", Target::Number, offsetof(DecoderArgs, sampleFrequency), 0},
    {"-c=", "--channel=", Target::Number, offsetof(DecoderArgs, channel), 0},
    {"-b=", "--bit=", Target::Number, offsetof(DecoderArgs, bitDepth), 0},
};

const char* const kHelp[] = {
    "\n",
    "NAME\n",
    "    ostrel\n",
    "\n",
    "SYNOPSIS\n",
    "    ostrel [OPTION]...\n",
    "\n",
    "DESCRIPTION\n",
    "    Using audio service to decode audio files to PCM raw data,\n",
    "    PCM/MP3/AAC/EAC/OGG/FLAC/APE/RA/WMA/ALAC are supported.\n",
    "    Mandatory arguments to long options are mandatory for short options too.\n",
    "\n",
    "    -g, --progress=progressName [default=NULL]\n",
    "      Name of current progress, max length 16 bytes(include '\\0').\n",
    "\n",
    "    -n, --name=decoderName [default=decoder0]\n",
    "      Name of audio decoder.\n",
    "    -f, --file=decodeFileName [default=NULL]\n",
    "      Full file name expected to decode, please include a SUFFIX to choose a CODEC type.\n",
    "      '.pcm/.wav/.mp3/.aac/.ac3/.ec3/.ogg/.flac/.ape/.ra/.wma/.m4a'\n",
    "    -v, --save=saveFileName [default=NULL]\n",
    "      Full file name expected to save, SUFFIX is '.pcm' ONLY.\n",
    "      For '-v' is inexistent, decode to track will be activated.\n",
    "    -s, --sample=sampleFrequency [default=44100]\n",
    "      Sample frequency of audio data, 4000Hz-192000Hz.\n",
    "      '.pcm' ONLY is necessory.\n",
    "    -c, --channel=channel [default=2]\n",
    "      Channel mode of audio data.\n",
    "      '.pcm' ONLY is necessory.\n",
    "\n",
    "      1   - Mono\n",
    "      2   - Stereo\n",
    "    -b, --bit=bitDepth [default=16]\n",
    "      Bit depth of audio data.\n",
    "      '.pcm' ONLY is necessory.\n",
    "\n",
    "      8  - Unsigned 8-bits\n",
    "      16 - Signed 16-bits Little Endian\n",
    "      32 - Signed 32-bits Little Endian\n",
    "      Refer to source code to learn about more type of 'bitDepth'.\n",
    "    -h, --help\n",
    "      Help specification.\n",
    "\n",
    "  EXIT STATUS\n",
    "    0  - No error.\n",
    "    -1 - Errors happen.\n",
    "\n",
};

const char* valueAfter(const char* word, const char* prefix) {
    size_t n = strlen(prefix);
    return strncmp(word, prefix, n) == 0 ? word + n : nullptr;
}

// The whole text as a decimal number; -1, outside every accepted range, when it is not one.
int32_t decimalValue(const char* text) {
    if (*text == '\0') return -1;
    int64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX) return -1;
    }
    return static_cast<int32_t>(value);
}

// cut[i] tells whether the last value of option i was longer than its field. False when no
// option takes the word.
bool applyOption(const char* word, DecoderArgs* args, bool* cut) {
    for (size_t i = 0; i < sizeof(kOptions) / sizeof(kOptions[0]); ++i) {
        const Option& option = kOptions[i];
        const char* value = valueAfter(word, option.shortPrefix);
        if (value == nullptr) value = valueAfter(word, option.longPrefix);
        if (value == nullptr) continue;
        char* field = reinterpret_cast<char*>(args) + option.offset;
        if (option.target == Target::Text) {
            strncpy(field, value, option.size - 1);
            field[option.size - 1] = '\0';
            cut[i] = strlen(value) > option.size - 1;
        } else {
            int32_t number = decimalValue(value);
            memcpy(field, &number, sizeof(number));
        }
        return true;
    }
    return false;
}

// The prefix without its '=' when word is that option's name alone, or (glued) a short name
// with its value behind it; empty otherwise.
std::string optionNamed(const char* word, bool* glued) {
    for (const Option& option : kOptions) {
        for (const char* prefix : {option.shortPrefix, option.longPrefix}) {
            const std::string name(prefix, strlen(prefix) - 1);
            *glued = prefix == option.shortPrefix && strncmp(word, name.c_str(), name.size()) == 0 &&
                     word[name.size()] != '\0';
            if (*glued || name == word) return name;
        }
    }
    return "";
}

// A word no option takes gets a line naming it, and when it is an option name without its '='
// the form meant. Returns how many words the line covers: an option name takes the next word as
// its value unless that is an option itself.
int warnIgnored(int argc, const char* const* argv, int i) {
    bool glued = false;
    const std::string name = optionNamed(argv[i], &glued);
    const std::string word = escapeText(argv[i]);
    if (name.empty()) {
        astLog("[AST][WRN]Ignored unknown argument '%s'.\n", word.c_str());
        return 1;
    }
    if (glued) {
        astLog("[AST][WRN]Ignored '%s', please write %s=%s.\n", word.c_str(), name.c_str(),
               escapeText(argv[i] + name.size()).c_str());
        return 1;
    }
    if (i + 1 < argc && argv[i + 1][0] != '-') {
        const std::string value = escapeText(argv[i + 1]);
        astLog("[AST][WRN]Ignored '%s %s', please write %s=%s.\n", word.c_str(), value.c_str(), name.c_str(),
               value.c_str());
        return 2;
    }
    astLog("[AST][WRN]Ignored '%s', please write %s=value.\n", word.c_str(), name.c_str());
    return 1;
}

}  // namespace

void printHelp() {
    for (const char* line : kHelp) astWrite(line, strlen(line));
}

bool parseDecoderArgs(int argc, const char* const* argv, DecoderArgs* args) {
    *args = kDefaultDecoderArgs;
    bool ok = true;
    bool cut[sizeof(kOptions) / sizeof(kOptions[0])] = {};
    for (int i = 1; i < argc;) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            ok = false;
            break;
        }
        i += applyOption(argv[i], args, cut) ? 1 : warnIgnored(argc, argv, i);
    }
    if (args->progressName[0] == '\0') {
        astLog("[AST][ERR]Invalid progress name, please input a valid value.\n");
        ok = false;
    }
    if (args->name[0] == '\0') {
        astLog("[AST][ERR]Invalid track name, please input a valid value.\n");
        ok = false;
    }
    // A cut path would name another file.
    if (args->decodeFile[0] == '\0' || cut[kFileOption]) {
        astLog("[AST][ERR]Invalid file name, please input a valid value.\n");
        ok = false;
    }
    if (cut[kSaveOption]) {
        astLog("[AST][ERR]Invalid save file name, please input a valid value.\n");
        ok = false;
    } else if (args->saveFile[0] == '\0') {
        astLog("[AST][ERR]Inexistent save file name, decode to track will be activated.\n");
    }
    if (args->sampleFrequency < 4000 || args->sampleFrequency > 192000) {
        astLog("[AST][ERR]Invalid sample frequency, please input 4000 to 192000.\n");
        ok = false;
    }
    if (args->channel != 1 && args->channel != 2) {
        astLog("[AST][ERR]Invalid channel, please input 1 or 2.\n");
        ok = false;
    }
    if (pcmBytesPerSample(static_cast<uint32_t>(args->bitDepth)) == 0) {
        astLog("[AST][ERR]Invalid bit depth, please input 8, 9, 16, 17, 32 or 33.\n");
        ok = false;
    }
    if (!ok) {
        printHelp();
        astLog("[AST][ERR]Failed to parse arg.\n");
    }
    return ok;
}

const char* fileSuffix(const char* path) {
    const char* dot = strrchr(path, '.');
    return (dot == nullptr || dot[1] == '\0') ? nullptr : dot + 1;
}
