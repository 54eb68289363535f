// A music-state dump as brrscan shows it: its titles and echo buffer before
// the finds, the voice that plays each entry, and a word where its registers
// or entries cannot be taken at their word.
#include <cinttypes>
#include <cstdio>

#include "brrscan.h"

namespace brrscan {

bool ReadDump(const Options& options, const std::string& name, const std::uint8_t* bytes, std::uint64_t size,
              DumpInfo& info)
{
    const std::int64_t memory = options.scan.memoryOffset;
    info.present = BRRIsDump(bytes, static_cast<std::size_t>(size)) != 0 &&
                   (memory == BRR_SCAN_AUTO || memory == BRR_DUMP_MEMORY_OFFSET);
    if (!info.present) {
        return true;
    }
    const int status = BRRReadDump(bytes, static_cast<std::size_t>(size), &info.dump);
    if (status != BRR_OK) {
        PrintFailure(name, BRRStatusText(status));
        return false;
    }
    const BRRDump& d = info.dump;
    if (options.scan.directory == BRR_SCAN_AUTO && d.directoryNamesSamples == 0) {
        std::fprintf(stderr, "%s: %s: the directory register (0x%04x) names no sample directory; searching for one\n",
                     programName, name.c_str(), static_cast<unsigned>(d.directory));
    }
    if (options.quiet) {
        return true;
    }
    if (options.json) {
        std::printf("{\"image\": %s, \"dump\": {\"song\": %s, \"game\": %s, \"directory\": %d, \"echo\": ",
                    JsonString(name).c_str(), d.hasTitles != 0 ? JsonString(d.song).c_str() : "null",
                    d.hasTitles != 0 ? JsonString(d.game).c_str() : "null", d.directory);
        d.echoStart >= 0 ? std::printf("[%d, %d]}}\n", d.echoStart, d.echoBytes) : std::printf("null}}\n");
        return true;
    }
    if (d.hasTitles != 0) {
        std::printf("Song : %s\nGame : %s\n", d.song, d.game);
    }
    if (d.echoStart >= 0) {
        std::printf("Echo buffer : 0x%04x, %d bytes\n", static_cast<unsigned>(d.echoStart), d.echoBytes);
    }
    return true;
}

int VoiceOf(const DumpInfo& info, const BRRFound& found)
{
    if (!info.present || found.foundBy != BRR_FOUND_BY_DIRECTORY) {
        return -1;
    }
    int voice = -1;
    for (int v = BRR_VOICES - 1; v >= 0; --v) {
        const BRRVoice& x = info.dump.voices[v];
        const bool better = voice < 0 || x.sounding != 0 || info.dump.voices[voice].sounding == 0;
        if (x.source == found.entryNumber && x.pitch > 0 && better) {
            voice = v;
        }
    }
    return voice;
}

void WarnOfLoop(const std::string& name, const std::uint8_t* bytes, std::uint64_t memoryOffset, const BRRFound& found)
{
    if (found.foundBy != BRR_FOUND_BY_DIRECTORY || found.loopFlag == 0 || found.loopBlock >= 0) {
        return;
    }
    const std::uint8_t* entry = bytes + memoryOffset + static_cast<std::uint32_t>(found.entry);
    std::fprintf(stderr,
                 "%s: %s: warning: entry %d (0x%04x) loops, but its loop address 0x%04x is no block of its sample; "
                 "its loop is unknown\n",
                 programName, name.c_str(), found.entryNumber, static_cast<unsigned>(found.entry),
                 static_cast<unsigned>(entry[2] | (entry[3] << 8)));
}

}  // namespace brrscan
