// The engine's memory images: a dump's registers (BRRReadDump) and a sample
// put back (BRRInsert) into a copy of the image.
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"

namespace engine {
namespace {

// A title as the header holds it: UTF-8 when it is, else read as Latin-1.
py::str Title(const char* text)
{
    const py::bytes raw(text);
    try {
        return raw.attr("decode")("utf-8");
    } catch (const py::error_already_set&) {
        return raw.attr("decode")("latin-1");
    }
}

py::dict ReadDump(const py::object& input)
{
    const Bytes data(input);
    BRRDump dump;
    const int status = BRRReadDump(data.data(), data.size(), &dump);
    if (status != BRR_OK) {
        Raise(status);
    }
    py::list voices;
    for (const BRRVoice& v : dump.voices) {
        py::dict voice;
        voice["pitch"] = v.pitch;
        voice["rate"] = v.rate;
        voice["source"] = v.source;
        voice["sounding"] = v.sounding != 0;
        voice["adsr"] = py::make_tuple(v.adsr[0], v.adsr[1]);
        voice["gain"] = v.gain;
        voice["envelope"] = v.envelope;
        voices.append(voice);
    }
    py::dict d;
    d["directory"] = dump.directory;
    d["directory_names_samples"] = dump.directoryNamesSamples != 0;
    d["echo"] = OrNone(dump.echoStart >= 0, py::make_tuple(dump.echoStart, dump.echoBytes));
    d["voices"] = voices;
    d["song"] = OrNone(dump.hasTitles != 0, Title(dump.song));
    d["game"] = OrNone(dump.hasTitles != 0, Title(dump.game));
    return d;
}

// The new image and what BRRInsert said of it; options checked by the package.
std::pair<py::bytes, py::dict> Insert(const py::object& image, const py::object& sample, std::int32_t entry,
                                      std::int64_t at, const std::vector<std::pair<std::int64_t, std::int64_t>>& free,
                                      std::optional<std::pair<std::int64_t, std::int64_t>> echo,
                                      std::int64_t memoryOffset, std::int32_t directory)
{
    const Bytes in(image);
    const Bytes blocks(sample);
    std::string out(reinterpret_cast<const char*>(in.data()), in.size());
    std::vector<BRRMemoryRange> ranges;
    ranges.reserve(free.size());
    for (const auto& f : free) {
        ranges.push_back(BRRMemoryRange{f.first, f.second});
    }
    BRRInsertOptions options;
    BRRInsertOptionsInit(&options);
    options.entry = entry;
    options.at = at;
    options.memoryOffset = memoryOffset;
    options.directory = directory;
    options.freeCount = static_cast<std::int32_t>(ranges.size());
    options.free = ranges.data();
    if (echo) {
        options.echoStart = echo->first;
        options.echoBytes = echo->second;
    }
    BRRInsertResult r{};
    int status;
    {
        py::gil_scoped_release release;
        status = BRRInsert(reinterpret_cast<std::uint8_t*>(&out[0]), out.size(), blocks.data(), blocks.size(),
                           &options, &r);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    py::dict d;
    d["offset"] = r.offset;
    d["bytes"] = r.bytes;
    d["room"] = r.room;
    d["start"] = OrNone(r.start >= 0, py::int_(r.start));
    d["loop_address"] = OrNone(r.loopAddress >= 0, py::int_(r.loopAddress));
    d["loop"] = OrNone(r.loopBlock >= 0, py::int_(r.loopBlock));
    d["free_range"] = OrNone(r.freeRange >= 0, py::int_(r.freeRange));
    d["shared_entries"] = r.sharedEntries;
    return {py::bytes(out), d};
}

}  // namespace

void DefineMemory(py::module_& m)
{
    m.def("is_dump", [](const py::object& data) {
        const Bytes bytes(data);
        return BRRIsDump(bytes.data(), bytes.size()) != 0;
    });
    m.def("read_dump", &ReadDump, py::arg("data"));
    m.def("insert", &Insert, py::arg("image"), py::arg("sample"), py::kw_only(), py::arg("entry"), py::arg("at"),
          py::arg("free"), py::arg("echo"), py::arg("memory_offset"), py::arg("directory"));
}

}  // namespace engine
