// brrscan: finds the samples stored inside binary images from the shell,
// lists where they are and writes them out.
#include <cerrno>
#include <cstring>
#include <string>

#include "brrscan.h"
#include "host.h"

namespace {

using brrscan::Options;

const char kUsage[] =
    "Usage: brrscan [OPTIONS] IMAGE...\n"
    "Find the BRR samples stored inside binary images (cartridge and disc images,\n"
    "memory images, archives) and list them in order of offset, one per line:\n"
    "\n"
    "  OFFSET  BLOCKS  LOOP  SCORE  FOUND-BY  [entry N]  [voice V pitch P R Hz]  [IMAGE]\n"
    "\n"
    "OFFSET is the first block's, in hex; BLOCKS counts through the end block;\n"
    "LOOP is the loop's first block, or '-' where it is not known; FOUND-BY is\n"
    "'scan' or 'directory ADDR' (the entry of a memory image's sample directory,\n"
    "followed by its number N); in a music-state dump, the voice that plays the\n"
    "entry, its pitch and the rate that stands for; IMAGE is named when several\n"
    "are scanned.\n"
    "\n"
    "The scan looks at every chain of blocks that ends in an end flag, at every\n"
    "byte, and judges what its headers and its decoding (with the hardware's\n"
    "rules) say. SCORE (0.00 to 1.00) is how sure it is that the chain is audio\n"
    "an encoder made: on test images of encoded recordings among machine code,\n"
    "text, compressed data, tables, fill and random bytes, the default 0.50\n"
    "finds about 98% of the samples of 8 blocks or more (93% exactly) and\n"
    "fewer than one false find per MiB of other bytes. Raise it for fewer\n"
    "false finds, lower it to find more.\n"
    "\n"
    "A memory image is the playback processor's 64 KiB: a file of exactly 65536\n"
    "bytes, a music-state dump (its memory at 0x100; its titles and echo buffer\n"
    "head the listing), or one at --memory-offset. Its sample directory (a\n"
    "dump's register, found by itself, or named with --directory) gives every\n"
    "entry's sample exactly, with its loop; no find lies in a dump's echo buffer.\n"
    "\n"
    "Options:\n"
    "      --json           one JSON object per line: {\"image\", \"offset\",\n"
    "                       \"blocks\", \"loop\", \"score\", \"found_by\", \"directory\",\n"
    "                       \"entry\"} (and \"voice\", \"pitch\", \"rate\", \"envelope\"\n"
    "                       where a voice plays it); a dump's first object is\n"
    "                       {\"image\", \"dump\": {\"song\", \"game\", \"directory\", \"echo\"}}\n"
    "      --min-blocks N   the fewest blocks of a find of the scan (default 4)\n"
    "      --min-score X    the lowest score of a find of the scan, 0 to 1\n"
    "                       (default 0.50)\n"
    "      --memory-offset N  a 64 KiB memory image starts at byte N (decimal or\n"
    "                       0x hex)\n"
    "      --directory ADDR the memory image's sample directory is at ADDR, a\n"
    "                       multiple of 0x100\n"
    "  -x, --extract DIR    write each sample into DIR (made when it does not\n"
    "                       exist) as IMAGE.0xOFFSET.brr, with a loop header when\n"
    "                       its loop is known\n"
    "      --wav            with -x, also write each sample's WAV as brrdecode\n"
    "                       would (32000 Hz, the hardware's rules, the smpl loop;\n"
    "                       in a dump, a voice's sample at that voice's rate)\n"
    "      --rate HZ        with --wav, every WAV at HZ\n"
    "      --pitch P        with --wav, every WAV at the rate of pitch P (1 to\n"
    "                       0x3FFF; 0x1000 is 32000 Hz)\n"
    "      --unique         list each distinct sample once, over all IMAGEs, with\n"
    "                       every place it was found (IMAGE@0xOFFSET)\n"
    "  -f, --force          replace existing files in DIR\n"
    "  -q, --quiet          print nothing but errors and warnings\n"
    "  -h, --help           print this help and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "IMAGE '-' reads standard input. Images of any size are read whole into\n"
    "memory; on a terminal, those over 4 MiB show their progress.\n"
    "\n"
    "Examples:\n"
    "  brrscan game.bin\n"
    "  brrscan -x samples --wav memory.bin\n"
    "  brrscan -x samples --wav song.dump\n"
    "  brrscan --unique --json disc1.bin disc2.bin > samples.jsonl\n"
    "\n"
    "Exit status: 0 when every IMAGE was scanned (and every sample written),\n"
    "1 when any failed, 2 for a usage error.\n";

}  // namespace

int ToolMain(int argc, char** argv)
{
    shell::programName = "brrscan";
    Options options;
    if (!brrscan::ParseArguments(argc, argv, options)) {
        return shell::kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return shell::kExitOk;
    }
    if (options.version) {
        std::printf("brrscan %s\n", BRRVersion());
        return shell::kExitOk;
    }
    if (options.extractDir != nullptr && !host::IsDirectory(options.extractDir) &&
        !host::MakeDirectory(options.extractDir)) {
        shell::PrintFailure(options.extractDir, (std::string("cannot create the directory: ") + std::strerror(errno)).c_str());
        return shell::kExitFailed;
    }
    shell::CatchEndingSignals();
    int exitCode = shell::kExitOk;
    brrscan::Run run;
    for (const char* image : options.inputs) {
        if (!brrscan::ScanImage(options, image, run)) {
            exitCode = shell::kExitFailed;
        }
    }
    for (const brrscan::Distinct& d : run.distinct) {
        if (options.quiet) {
            break;
        }
        brrscan::List(options, d.places.front(), &d.places);
    }
    return shell::FlushStandardOutput() ? exitCode : shell::kExitFailed;
}
