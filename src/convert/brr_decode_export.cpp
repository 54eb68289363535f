// The library's one exported function: narrows the paths for the messages,
// runs the conversion and ends the process where a file cannot be opened.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "VornishAudioBRRDecoder.h"
#include "convert/convert.h"
#include "convert/narrow_path.h"

extern "C" int32_t BRRDecode(const wchar_t* inputPath, const wchar_t* outputPath)
{
    const vornish::ConvertOptions options;
    if (inputPath == nullptr || outputPath == nullptr) {
        return vornish::BRRConvert(vornish::FilePath(), vornish::FilePath(), options);
    }
    std::string inputText;
    std::string outputText;
    if (!vornish::NarrowPath(inputPath, inputText) || !vornish::NarrowPath(outputPath, outputText)) {
        std::fflush(stdout);
        std::fprintf(stderr, "Error : Not enough memory to decode %s.\n", inputText.c_str());
        return BRR_STATUS_NO_MEMORY;
    }
    vornish::FilePath input;
    vornish::FilePath output;
    input.text = inputText.c_str();
    output.text = outputText.c_str();
#if defined(_WIN32)
    // Windows opens the wide paths themselves: the narrow forms may have lost
    // characters the code page lacks.
    input.wide = inputPath;
    output.wide = outputPath;
#endif
    const int32_t status = vornish::BRRConvert(input, output, options);
    if (status == vornish::kStatusInputOpenFailed || status == vornish::kStatusOutputOpenFailed) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::exit(1);
    }
    return status;
}
