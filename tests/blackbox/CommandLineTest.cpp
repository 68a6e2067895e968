// The command line, validation, suffixes and input errors, seen from outside.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;

namespace {

const std::string kNoSave = "[AST][ERR]Inexistent save file name, decode to track will be activated.\n";
const std::string kBadFile = "[AST][ERR]Invalid file name, please input a valid value.\n";
const std::string kParseFailed = "[AST][ERR]Failed to parse arg.\n";

TEST(CommandLine, ParseFailuresPrintValidationThenHelp) {
    struct Case {
        std::vector<std::string> args;
        std::string validation;
    };
    const Case cases[] = {
        {{}, kBadFile + kNoSave},
        {{"-h"}, kBadFile + kNoSave},
        // Words after -h are not parsed, words before it are.
        {{"-f=a.wav", "--help", "-v=x.pcm"}, kNoSave},
        {{"-f=a.wav", "-v=x.pcm", "-h"}, ""},
        {{"-g=", "-f=a.wav", "-v=o"}, "[AST][ERR]Invalid progress name, please input a valid value.\n"},
        {{"--name=", "-f=a.wav", "-x=1"},
         "[AST][ERR]Invalid track name, please input a valid value.\n" + kNoSave},
        {{"-g=", "-n=", "-f="},
         "[AST][ERR]Invalid progress name, please input a valid value.\n"
         "[AST][ERR]Invalid track name, please input a valid value.\n" + kBadFile + kNoSave},
        // Prefixes are case-sensitive and need the '='.
        {{"-F=a.wav", "-f", "--FILE=a.wav"}, kBadFile + kNoSave},
    };
    for (const Case& c : cases) {
        ToolResult r = runTool({c.args});
        EXPECT_EQ(255, r.exitCode);
        EXPECT_EQ(c.validation + helpText() + kParseFailed, r.out) << testing::PrintToString(c.args);
        EXPECT_EQ("", r.err);
    }
}

TEST(CommandLine, SuffixSelectsTheCodec) {
    testsupport::TempDir dir;
    struct Case {
        std::string file;
        std::string tail;  // what follows the Args lines
    };
    const std::string noReader = "[AST][ERR]Failed to create audio data reader.\n";
    const Case cases[] = {
        {"song", "[AST][ERR]Unknown file type.\n"},
        {"song.", "[AST][ERR]Unknown file type.\n"},
        {"dir.old/song", "[AST][INF]File suffix=old/song, codec=-1.\n" + noReader},
        {"song.xyz", "[AST][INF]File suffix=xyz, codec=-1.\n" + noReader},
        {"song.mp3", "[AST][INF]File suffix=mp3, codec=48.\n"
                     "[AST][ERR]Failed to open file 'song.mp3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.MP3", "[AST][INF]File suffix=MP3, codec=48.\n"
                     "[AST][ERR]Failed to open file 'song.MP3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"a.b.aac", "[AST][INF]File suffix=aac, codec=16.\n"
                    "[AST][ERR]Failed to open file 'a.b.aac'.\n"
                    "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ac3", "[AST][INF]File suffix=ac3, codec=80.\n"
                     "[AST][ERR]Failed to open file 'song.ac3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ec3", "[AST][INF]File suffix=ec3, codec=80.\n"
                     "[AST][ERR]Failed to open file 'song.ec3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.flac", "[AST][INF]File suffix=flac, codec=96.\n"
                      "[AST][ERR]Failed to open file 'song.flac'.\n"
                      "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ogg", "[AST][INF]File suffix=ogg, codec=112.\n"
                     "[AST][ERR]Failed to open file 'song.ogg'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ape", "[AST][INF]File suffix=ape, codec=128.\n"
                     "[AST][ERR]Failed to open file 'song.ape'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.wma", "[AST][INF]File suffix=wma, codec=144.\n"
                     "[AST][ERR]Failed to open file 'song.wma'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.Alac", "[AST][INF]File suffix=Alac, codec=160.\n"
                      "[AST][ERR]Failed to open file 'song.Alac'.\n"
                      "[AST][ERR]Invalid audio data reader.\n"},
        {"song.m4a", "[AST][INF]File suffix=m4a, codec=160.\n"
                     "[AST][ERR]Failed to open file 'song.m4a'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ra", "[AST][INF]File suffix=ra, codec=176.\n"
                    "[AST][ERR]Failed to open file 'song.ra'.\n"
                    "[AST][ERR]Invalid audio data reader.\n"},
        {"song.wav", "[AST][INF]File suffix=wav, codec=0.\n"
                     "[AST][ERR]Failed to open file 'song.wav'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.PCM", "[AST][INF]File suffix=PCM, codec=0.\n"
                     "[AST][ERR]Failed to open file 'song.PCM'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
    };
    for (const Case& c : cases) {
        ToolResult r = runTool({{"-f=" + c.file, "-v=" + dir.path("out.pcm")}});
        EXPECT_EQ(255, r.exitCode) << c.file;
        EXPECT_EQ(argsLines(c.file, dir.path("out.pcm")) + c.tail, r.out) << c.file;
    }
}

TEST(CommandLine, LongOptionsAndLastValueWins) {
    testsupport::TempDir dir;
    ToolResult r = runTool({{"--progress=first", "-g=second", "--name=dec", "--file=x.xyz", "--save=o.pcm",
                             "-f=y.zzz"}});
    EXPECT_EQ(255, r.exitCode);
    EXPECT_EQ(argsLines("y.zzz", "o.pcm", "second", "dec") +
                  "[AST][INF]File suffix=zzz, codec=-1.\n[AST][ERR]Failed to create audio data reader.\n",
              r.out);

    // Over-long values are cut to the field's size.
    std::string longName(300, 'n');
    r = runTool({{"-g=" + longName, "-n=" + longName, "-f=" + longName + ".q"}});
    EXPECT_EQ(argsLines(std::string(255, 'n'), "", std::string(63, 'n'), std::string(63, 'n')),
              r.out.substr(kNoSave.size(), argsLines(std::string(255, 'n'), "", std::string(63, 'n'),
                                                     std::string(63, 'n')).size()));
    EXPECT_EQ(0u, r.out.find(kNoSave));
    EXPECT_NE(std::string::npos, r.out.find("[AST][ERR]Unknown file type.\n"));
}

}  // namespace
