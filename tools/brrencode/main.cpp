// brrencode: encodes audio files into BRR samples from the shell, with the
// shell behaviour of brrdecode: no file replaced unasked, never the input,
// standard input and output, outputs whole or not at all.
#include <string>

#include "brrencode.h"

namespace {

// The Windows build's libsndfile has none of its external codecs.
#if VORNISH_SNDFILE_BUILTIN_FORMATS
#define FORMATS "WAV, AIFF, CAF, ..."
#define FORMATS_NOTE                                                                    \
    "This Windows build reads the formats libsndfile implements itself: WAV, WAVEX,\n" \
    "RF64, W64, AIFF/AIFC, CAF, AU, VOC, IFF/SVX, SD2, PAF, AVR, HTK, MAT4, MAT5,\n"  \
    "PVF, SDS, XI, MPC 2000, WVE, NIST Sphere and IRCAM; not FLAC, Ogg (Vorbis,\n"     \
    "Opus) or MP3. Convert those to WAV first.\n"                                       \
    "\n"
#else
#define FORMATS "WAV, AIFF, FLAC, Ogg/Vorbis, ..."
#define FORMATS_NOTE ""
#endif

const char kUsage[] =
    "Usage: brrencode [OPTIONS] INPUT...\n"
    "Encode audio files (" FORMATS " in any sample format and\n"
    "any number of channels) into BRR samples: 9-byte blocks of 16 samples each.\n"
    "\n" FORMATS_NOTE
    "Each INPUT is written to INPUT with its extension replaced by .brr. The\n"
    "channels are mixed to mono unless --channel picks one. The last block has\n"
    "the end flag and, for a looped sample, the loop flag; the sample ends with\n"
    "its loop. Every choice of the encoder is judged by what the decoder of the\n"
    "chosen rules makes of it, and no decoded value leaves -16378..16376, where\n"
    "the hardware's playback interpolation cannot overflow.\n"
    "\n"
    "The loop comes from the input (a WAV 'smpl' loop, AIFF markers) or --loop\n"
    "(found in the sound with --loop auto);\n"
    "brrdecode reads it back from the loop header written in front.\n"
    "Its length is fitted to whole blocks (16 samples), and silence (fewer than\n"
    "16 samples) in front puts its start on a block.\n"
    "\n"
    "An existing file is never replaced without -f, and an output is never its\n"
    "own input. INPUT '-' reads standard input; its blocks go to standard output\n"
    "(as do those of -o -), and the console lines then go to standard error.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE    write the blocks to FILE, '-' for standard output\n"
    "                       (only with a single INPUT)\n"
    "  -d, --output-dir DIR write each BRR file into DIR, named after its INPUT\n"
    "  -f, --force          replace existing output files\n"
    "  -q, --quiet          print nothing but errors and warnings\n"
    "      --rate HZ        resample to HZ (libsoxr, very high quality); by\n"
    "                       default the input's rate is kept\n"
    "      --max-bytes N    resample to the highest rate, to 1 Hz, at or below\n"
    "                       the input's (or --rate) whose output, loop header\n"
    "                       included, is at most N bytes (1000 Hz at least)\n"
    "      --channel N      encode channel N alone (1 is the first)\n"
    "      --loop S:E       loop from input sample S to E (E exclusive); in\n"
    "                       seconds of the input as 1.5s:2s\n"
    "      --loop auto      find a loop in a sustained sound (instead of the\n"
    "                       input's); a sound that does not sustain stays one-shot\n"
    "      --no-loop        ignore the input's loop\n"
    "      --loop-fit HOW   'auto' (the default): of 1 to 16 periods of the loop\n"
    "                       resampled to whole blocks, the one that changes the\n"
    "                       rate least (at most doubling the sample, or adding at\n"
    "                       most 2048 samples); 'resample': one period, the whole\n"
    "                       sample resampled by the smallest factor that makes the\n"
    "                       loop whole blocks; 'repeat': the loop repeated (at\n"
    "                       most 16 times) until it is whole blocks; the rate is\n"
    "                       printed\n"
    "      --treble-boost   make up for the treble the playback interpolation\n"
    "                       takes at pitch 4096 (flat within 1.5 dB up to 0.7 of\n"
    "                       the Nyquist frequency); scaled down where it would clip\n"
    "      --no-loop-header write the blocks alone, even for a looped sample; by\n"
    "                       default a loop gets the 2-byte loop header (the loop\n"
    "                       start as a byte offset into the blocks) in front\n"
    "      --loop-header    the default; an error when the loop lies too far in\n"
    "                       for the header (else it is left out, with a warning)\n"
    "      --root-note NOTE the sample's root note (C4, A#3, Eb5 or MIDI 0-127),\n"
    "                       for the pitch of C4; by default the input's own\n"
    "      --effort E       'fast' (the usual per-block search), 'default' or\n"
    "                       'best' (wider searches: higher SNR, slower)\n"
    "      --rules R        the decoder judged against: 'hardware' (the default)\n"
    "                       or 'library' (BRRDecode's)\n"
    "  -h, --help           print this help and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "Printed: the blocks written, the SNR of the decoded result against the\n"
    "signal encoded (after resampling and boost), the loop's first block, and\n"
    "what a block file does not keep: the rate the blocks were made for\n"
    "('Rate : 22050 Hz.', with a fraction where the loop fit made one), the\n"
    "pitch that plays them at that rate on the playback hardware ('Pitch :\n"
    "0x0B06.', round(rate * 4096 / 32000); brrdecode --pitch takes it back),\n"
    "and, with a root note (from a WAV 'smpl' or AIFF INST chunk, or\n"
    "--root-note), the pitch that plays the sample's C4. On a terminal a long\n"
    "encoding shows its progress on standard error.\n"
    "\n"
    "Examples:\n"
    "  brrencode --rate 32000 piano.wav\n"
    "  brrencode --loop 1200:5200 --loop-fit repeat -o flute.brr flute.flac\n"
    "  sox voice.flac -t wav - | brrencode - > voice.brr\n"
    "\n"
    "Exit status: 0 when every INPUT was encoded, 1 when any failed,\n"
    "2 for a usage error.\n";

}  // namespace

int ToolMain(int argc, char** argv)
{
    shell::programName = "brrencode";
    brrencode::Options options;
    if (!brrencode::ParseArguments(argc, argv, options)) {
        return shell::kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return shell::kExitOk;
    }
    if (options.version) {
        std::printf("brrencode %s\n", BRRVersion());
        return shell::kExitOk;
    }
    return shell::RunAll(options, nullptr, "brr", [&](const char* input, const std::string& output, bool announce,
                                                  std::vector<shell::Written>& written) {
        return brrencode::EncodeOne(options, input, output, announce, written);
    });
}
