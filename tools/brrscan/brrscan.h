// brrscan's own parts: its options, one image scanned and listed, the
// samples written out, and the places of each distinct sample. The finding
// itself is the library's (BRRScan).
#ifndef BRRSCAN_H
#define BRRSCAN_H

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "VornishAudioBRR.h"
#include "shell.h"

namespace brrscan {

using namespace shell;

struct Options : ShellOptions {
    BRRScanOptions scan{};
    bool json = false;
    bool unique = false;
    bool wav = false;
    const char* extractDir = nullptr;  // -x
    bool batch = false;                // more than one IMAGE: lines name it
    std::uint32_t wavRate = 0;         // --rate or --pitch: every WAV's rate (0: each its own)
    const char* rateBy = nullptr;      // which of the two set it
};

// Parses the command line into `options`; false after the usage message.
bool ParseArguments(int argc, char** argv, Options& options);

// A find, and where it was: the image's name as given; in a dump, the
// voice that plays its entry (-1: none) as the registers hold it.
struct Place {
    std::string image;
    BRRFound found;
    int voice = -1;
    BRRVoice voiceState{};
};

// What a music-state dump says of the image being scanned.
struct DumpInfo {
    bool present = false;
    BRRDump dump{};
};

// Reads a dump's registers when IMAGE is one (and its memory image is
// where the dump keeps it), prints its titles and echo buffer (the first
// JSON object with --json), and says on standard error when its directory
// register names no directory. False after an error line.
bool ReadDump(const Options& options, const std::string& name, const std::uint8_t* bytes, std::uint64_t size,
              DumpInfo& info);

// The voice that plays a directory find's entry: the first that sounds, else
// the first with a pitch; -1 for none.
int VoiceOf(const DumpInfo& info, const BRRFound& found);

// A directory find whose sample loops but whose entry's loop address is no
// block of it: a warning naming the entry.
void WarnOfLoop(const std::string& name, const std::uint8_t* bytes, std::uint64_t memoryOffset, const BRRFound& found);

// A string as JSON writes it (bytes that are not UTF-8 as \u00XX).
std::string JsonString(const std::string& text);

// A distinct sample (--unique): every place it was found.
struct Distinct {
    std::vector<Place> places;
};

// What one run keeps from image to image.
struct Run {
    std::vector<Distinct> distinct;                     // --unique, in order of first place
    std::unordered_map<std::uint64_t, std::size_t> index;  // fingerprint -> distinct
    std::set<std::string> written;                      // files this run wrote
};

// Reads one IMAGE ('-': standard input) whole, scans it and lists and
// extracts its finds (with --unique, only those not seen before are
// extracted, and the listing waits for the end of the run). True when it
// was scanned and everything asked of it was written.
bool ScanImage(const Options& options, const char* image, Run& run);

// Lists one find (with `places`, every place of a distinct sample).
void List(const Options& options, const Place& place, const std::vector<Place>* places);

// Writes a find's blocks, with a loop header when its loop is known, as
// DIR/IMAGE.0xOFFSET.brr, and with --wav its WAV beside. True when written.
bool Extract(const Options& options, const Place& place, const std::uint8_t* image, Run& run);

// The blocks' fingerprint (FNV-1a, 64 bits, the loop block mixed in).
std::uint64_t Fingerprint(const std::uint8_t* blocks, std::uint64_t size, std::int64_t loopBlock);

}  // namespace brrscan

#endif
