// brrdecode: converts BRR files to WAV files from the shell.
//
// What the tool adds to the library's conversion is what a shell user
// expects: it never replaces a file unasked nor writes over its input, it
// reads and writes standard input and output (console lines then go to
// standard error), it names outputs into a folder, it says why a file cannot
// be opened, and a conversion stopped by a signal leaves no partial output.
#include <string>

#include "brrdecode.h"

namespace {

using brrdecode::Options;

const char kUsage[] =
    "Usage: brrdecode [OPTIONS] INPUT...\n"
    "Convert BRR samples to WAV files (signed 16-bit mono PCM).\n"
    "\n"
    "Each INPUT is written to INPUT with its .brr extension replaced by .wav\n"
    "(or .wav appended when it has none).\n"
    "\n"
    "File forms: a file of 9-byte blocks, or one whose size is 2 more than a\n"
    "multiple of 9: a 2-byte little-endian loop header (the loop start as a\n"
    "byte offset into the blocks), then the blocks.\n"
    "Flags: bit 0 of a block's header byte marks the sample's end, bit 1 a\n"
    "sample that then loops back to its loop start. Every block is decoded\n"
    "unless --stop-at-end; blocks after the end block are warned about.\n"
    "A known loop start is printed; when the loop was given or the last block\n"
    "has both flags, the WAV gets a 'smpl' chunk that samplers read.\n"
    "\n"
    "An existing file is never replaced without -f, and an output is never\n"
    "its own input. INPUT '-' reads standard input; its WAV goes to standard\n"
    "output (as does -o -), and the console lines then go to standard error.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE    write the WAV to FILE, '-' for standard output\n"
    "                       (only with a single INPUT)\n"
    "  -d, --output-dir DIR write each WAV into DIR, named after its INPUT\n"
    "  -f, --force          replace existing output files\n"
    "  -q, --quiet          print nothing but errors and warnings\n"
    "      --loops N        play the sample as a sampler does: once, then the\n"
    "                       loop (loop start to end) N-1 more times (1 to 3200,\n"
    "                       default 1), the decoder history carried on; with\n"
    "                       N > 1, report the loop's probable note and whether\n"
    "                       it is stable\n"
    "      --rate HZ        sample rate written into the WAV and used for the\n"
    "                       note (1 to 384000, default 32000: the playback\n"
    "                       hardware's rate, at which samples play at pitch 4096)\n"
    "      --pitch PITCH    the rate that PITCH (as brrencode prints it: 1 to\n"
    "                       16383, decimal or 0x hex) plays at on the hardware:\n"
    "                       PITCH * 32000 / 4096 Hz, rounded\n"
    "      --rules R        the decoding arithmetic: 'hardware' (the default, as\n"
    "                       the playback hardware decodes) or 'library' (what\n"
    "                       the library's BRRDecode has always written)\n"
    "      --play PITCH     write what the hardware's voice outputs, at 32000 Hz,\n"
    "                       playing the sample at PITCH (1 to 16383, decimal or\n"
    "                       0x hex; 4096 is one sample per output sample) with\n"
    "                       its 4-tap interpolation; no 'smpl' chunk\n"
    "      --play-rate HZ   the same, at PITCH = HZ * 4096 / 32000, rounded\n"
    "                       (--rate, --pitch, --play, --play-rate: one at most)\n"
    "      --root-note NOTE the 'smpl' chunk's unity note: C4, A#3, Eb5 or a MIDI\n"
    "                       number 0 to 127 (C4 is 60, A4 is 440 Hz); by default\n"
    "                       the probable note of the loop, else 60\n"
    "      --loop-start S   the loop starts at block S (overrides a header)\n"
    "      --no-header      take every file as headerless\n"
    "      --stop-at-end    decode up to the first block with the end flag\n"
    "      --no-smpl        write no 'smpl' chunk\n"
    "  -h, --help           print this help and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "On a terminal, a long conversion shows its progress on standard error.\n"
    "\n"
    "Examples:\n"
    "  brrdecode --pitch 0x0B06 speech.brr\n"
    "  brrdecode --stop-at-end --loops 4 -o piano.wav piano.brr\n"
    "  brrdecode --play-rate 44100 --loops 8 -o heard.wav piano.brr\n"
    "  brrdecode - < voice.brr | sox -t wav - voice.flac\n"
    "\n"
    "Exit status: 0 when every INPUT was converted, 1 when any failed,\n"
    "2 for a usage error.\n";

}  // namespace

int ToolMain(int argc, char** argv)
{
    shell::programName = "brrdecode";
    Options options;
    if (!brrdecode::ParseArguments(argc, argv, options)) {
        return shell::kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return shell::kExitOk;
    }
    if (options.version) {
        std::printf("brrdecode %s\n", BRRVersion());
        return shell::kExitOk;
    }
    return shell::RunAll(options, "brr", "wav", [&](const char* input, const std::string& output, bool announce,
                                                  std::vector<shell::Written>& written) {
        return brrdecode::ConvertOne(options, input, output, announce, written);
    });
}
