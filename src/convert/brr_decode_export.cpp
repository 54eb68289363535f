// The library's one exported function: narrows the paths, runs the conversion
// and ends the process where a file cannot be opened.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "VornishAudioBRRDecoder.h"
#include "convert/convert.h"
#include "convert/narrow_path.h"

extern "C" int32_t BRRDecode(const wchar_t* inputPath, const wchar_t* outputPath)
{
    if (inputPath == nullptr || outputPath == nullptr) {
        return vornish::BRRConvertFile(nullptr, nullptr, 1, vornish::kDefaultSampleRate);
    }
    std::string input;
    std::string output;
    if (!vornish::NarrowPath(inputPath, input) || !vornish::NarrowPath(outputPath, output)) {
        std::fflush(stdout);
        std::fprintf(stderr, "Error : Not enough memory to decode %s.\n", input.c_str());
        return BRR_STATUS_NO_MEMORY;
    }
    const int32_t status =
        vornish::BRRConvertFile(input.c_str(), output.c_str(), 1, vornish::kDefaultSampleRate);
    if (status == vornish::kStatusInputOpenFailed || status == vornish::kStatusOutputOpenFailed) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::exit(1);
    }
    return status;
}
