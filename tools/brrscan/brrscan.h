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
};

// Parses the command line into `options`; false after the usage message.
bool ParseArguments(int argc, char** argv, Options& options);

// A find, and where it was: the image's name as given.
struct Place {
    std::string image;
    BRRFound found;
};

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
