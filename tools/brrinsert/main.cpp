// brrinsert: puts a sample back into an image from the shell: a memory
// image's or dump's directory entry, or the chain at an offset.
#include "brrinsert.h"

namespace {

const char kUsage[] =
    "Usage: brrinsert [OPTIONS] IMAGE SAMPLE (-o OUTPUT | --in-place)\n"
    "Put the BRR sample SAMPLE (a block file, with or without its 2-byte loop\n"
    "header; its last block must have the end flag) into IMAGE, and write the\n"
    "new image. Only the new sample's bytes and the entry's four bytes change.\n"
    "\n"
    "Where it goes, exactly one of:\n"
    "      --entry N        directory entry N (0 to 255) of a memory image or a\n"
    "                       music-state dump: the sample takes the old sample's\n"
    "                       place when it fits there and no other entry uses it,\n"
    "                       else the first --free range it fits; entry N's start\n"
    "                       and loop addresses (start + the loop header's offset)\n"
    "                       are written\n"
    "      --at OFFSET      any image: the chain at OFFSET through its end block\n"
    "                       is replaced, when the sample fits in it\n"
    "\n"
    "Options:\n"
    "      --free START:END free memory the sample may go into (repeatable, END\n"
    "                       exclusive, decimal or 0x hex); a place that would\n"
    "                       overlap the directory, another entry's sample or the\n"
    "                       echo buffer is refused\n"
    "      --echo START:BYTES the echo buffer of a plain memory image (a dump's\n"
    "                       registers name its own)\n"
    "      --memory-offset N  a 64 KiB memory image starts at byte N of IMAGE\n"
    "                       (default: a file of 65536 bytes, or a dump's at 0x100)\n"
    "      --directory ADDR the sample directory is at ADDR (default: a dump's\n"
    "                       register, else found as brrscan finds it)\n"
    "  -o, --output OUTPUT  write the new image to OUTPUT ('-': standard output)\n"
    "      --in-place       replace IMAGE (whole, or not at all)\n"
    "  -n, --dry-run        say what would be done; write nothing\n"
    "  -f, --force          replace an existing OUTPUT\n"
    "  -q, --quiet          print nothing but errors and warnings\n"
    "  -h, --help           print this help and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "When the sample does not fit, nothing is written and the message gives\n"
    "the room there is, for brrencode --max-bytes.\n"
    "\n"
    "Examples:\n"
    "  brrinsert --entry 12 song.dump new.brr -o new.dump\n"
    "  brrinsert --entry 3 --free 0xC000:0xE000 memory.bin long.brr --in-place\n"
    "  brrinsert --at 0x1a2b3 game.bin drum.brr -o patched.bin\n"
    "\n"
    "Exit status: 0 when the image was written (or would be, with -n), 1 when\n"
    "it was not, 2 for a usage error.\n";

}  // namespace

int ToolMain(int argc, char** argv)
{
    shell::programName = "brrinsert";
    brrinsert::Options options;
    if (!brrinsert::ParseArguments(argc, argv, options)) {
        return shell::kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return shell::kExitOk;
    }
    if (options.version) {
        std::printf("brrinsert %s\n", BRRVersion());
        return shell::kExitOk;
    }
    shell::CatchEndingSignals();
    const bool ok = brrinsert::InsertOne(options);
    return shell::FlushStandardOutput() && ok ? shell::kExitOk : shell::kExitFailed;
}
