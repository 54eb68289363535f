// BRRDecode, the library's original export: one BRR file in, one WAV file
// out, at 8000 Hz with the library's arithmetic, its console lines, its
// statuses, and the end of the process where a file cannot be opened. A
// client of the C API and the file layer like any other.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "VornishAudioBRRDecoder.h"
#include "VornishAudioBRRFile.h"
#include "export/narrow_path.h"

namespace {

// Progress and errors are flushed at once, so that they keep their order and
// reach the console even if the host's runtime buffers its own streams
// separately.
void Print(std::FILE* stream, const char* format, ...)
{
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

[[noreturn]] void EndProcess()
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(1);
}

struct Paths {
    std::string inputText;   // the narrow forms: what messages show
    std::string outputText;
    const wchar_t* inputWide = nullptr;  // what Windows opens
    const wchar_t* outputWide = nullptr;
};

// The statuses of a failed render, as the library words them.
std::int32_t RenderFailed(int status, const Paths& paths)
{
    if (status == BRR_STATUS_READ_ERROR) {
        Print(stderr, "Error : Can't read BRR file %s.\n", paths.inputText.c_str());
    } else if (status == BRR_STATUS_NO_MEMORY) {
        Print(stderr, "Error : Not enough memory to decode %s.\n", paths.inputText.c_str());
    } else {
        Print(stderr, "Error : Can't write file %s.\n", paths.outputText.c_str());
    }
    return status;
}

// Renders into a replacement of the output, which takes the output's place
// only once it is complete: a failure leaves an existing output (the input
// itself, with the same path for both) as it was.
std::int32_t WriteOutput(BRRFile& input, const Paths& paths, const BRRConvertOptions& options,
                         BRRConvertResult& plan)
{
    BRRFile output;
    if (BRRFileOpenOutput(&output, paths.outputText.c_str(), paths.outputWide, 0) != 0) {
        Print(stderr, "Can't open file %s for writing.\n", paths.outputText.c_str());
        EndProcess();
    }
    int status = BRRRenderToFile(BRRFileRead, &input, &options, &output, &plan);
    BRRFileClose(&input);  // done with before the output may take its place
    if (status == BRR_OK && BRRFileCommit(&output) != 0) {
        status = BRR_STATUS_WRITE_ERROR;
    }
    if (status != BRR_OK) {
        BRRFileClose(&output);
        return RenderFailed(status, paths);
    }
    return BRR_OK;
}

std::int32_t Convert(BRRFile& input, const Paths& paths)
{
    BRRConvertOptions options;
    BRRConvertOptionsInit(&options);
    BRRConvertResult plan;
    const int status = BRRPlan(BRRFileRead, &input, input.size, &options, &plan);
    const char* in = paths.inputText.c_str();
    switch (status) {
    case BRR_STATUS_BAD_SIZE:
        Print(stderr, "Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", in);
        return status;
    case BRR_STATUS_READ_ERROR:
    case BRR_STATUS_NO_MEMORY: return RenderFailed(status, paths);
    default: break;
    }
    Print(stdout, "Number of BRR blocks to decode : %" PRIu64 ".\n", plan.blockCount);
    if (status == BRR_STATUS_NO_BLOCKS) {
        Print(stderr, "Error : Loop position is out of range\n");
        return status;
    }
    if (status == BRR_STATUS_TOO_LARGE) {
        Print(stderr, "Error : BRR file %s is too large to convert.\n", in);
        return status;
    }
    const std::int32_t written = WriteOutput(input, paths, options, plan);
    if (written != BRR_OK) {
        return written;
    }
    Print(stdout, "Done !\n");
    return BRR_STATUS_DONE;
}

}  // namespace

extern "C" int32_t BRRDecode(const wchar_t* inputPath, const wchar_t* outputPath)
{
    if (inputPath == nullptr || outputPath == nullptr) {
        Print(stderr, "Error : Missing file path.\n");
        return BRR_STATUS_MISSING_PATH;
    }
    Paths paths;
    if (!vornish::NarrowPath(inputPath, paths.inputText) ||
        !vornish::NarrowPath(outputPath, paths.outputText)) {
        Print(stderr, "Error : Not enough memory to decode %s.\n", paths.inputText.c_str());
        return BRR_STATUS_NO_MEMORY;
    }
#if defined(_WIN32)
    // Windows opens the wide paths themselves: the narrow forms may have lost
    // characters the code page lacks.
    paths.inputWide = inputPath;
    paths.outputWide = outputPath;
#endif
    BRRFile input;
    if (BRRFileOpenInput(&input, paths.inputText.c_str(), paths.inputWide) != 0) {
        Print(stderr, "No such file : %s\n", paths.inputText.c_str());
        EndProcess();
    }
    const std::int32_t status = Convert(input, paths);
    BRRFileClose(&input);
    return status;
}
