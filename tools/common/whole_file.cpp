// A file read whole into memory, for the tools that work on images.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>

#include "shell.h"

namespace shell {
namespace {

constexpr std::uint64_t kReadPiece = std::uint64_t{64} << 20;

}  // namespace

WholeFile::WholeFile(const std::string& name, BRRFile& input) : size_(input.size)
{
    if (size_ > SIZE_MAX) {
        PrintFailure(name, ("is " + std::to_string(size_) + " bytes, more than this system's address space holds").c_str());
        return;
    }
    try {
        copy_.resize(static_cast<std::size_t>(size_));
    } catch (const std::exception&) {
        PrintFailure(name, "not enough memory to hold it");
        return;
    }
    for (std::uint64_t at = 0; at < size_; at += kReadPiece) {
        const std::uint64_t piece = std::min(kReadPiece, size_ - at);
        if (BRRFileRead(&input, at, copy_.data() + at, static_cast<std::size_t>(piece)) != 0) {
            // An early end is EIO too: the file was cut short while it was read.
            const std::string why = std::string("cannot read it whole: ") + BRRFileErrorText(input.error) +
                                    (input.error == EIO ? " (did it shrink while it was read?)" : "");
            PrintFailure(name, why.c_str());
            return;
        }
    }
    ok_ = true;
}

}  // namespace shell
