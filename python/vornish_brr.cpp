// vornish_brr: the BRR engine for Python, on the public C API alone.
//
// Inputs are taken through the buffer protocol (bytes, bytearray,
// memoryview, numpy uint8 arrays) without copying, and the GIL is released
// while the library decodes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "VornishAudioBRR.h"

namespace py = pybind11;

namespace {

PyObject* errorType = nullptr;
PyObject* optionErrorType = nullptr;  // also a ValueError: an option outside its range

// The library's failure as an exception: OptionError for the options' own
// statuses, Error for what rules the input out.
[[noreturn]] void Raise(int status)
{
    const char* text = BRRStatusText(status);
    const bool option = status == BRR_STATUS_BAD_OPTION || status == BRR_STATUS_BAD_LOOP_COUNT ||
                        status == BRR_STATUS_BAD_LOOP_START;
    PyObject* type = option ? optionErrorType : errorType;
    py::object error = py::reinterpret_borrow<py::object>(type)(text);
    error.attr("status") = status;
    error.attr("text") = text;
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

// A contiguous byte buffer held for as long as the object lives.
class Bytes {
public:
    explicit Bytes(const py::object& object)
    {
        if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
            throw py::error_already_set();
        }
        if (view_.itemsize != 1) {
            PyBuffer_Release(&view_);
            throw py::type_error("data must be bytes, bytearray, memoryview or a uint8 array");
        }
    }
    ~Bytes() { PyBuffer_Release(&view_); }
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(view_.buf); }
    std::size_t size() const { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_{};
};

int Rules(const std::string& name)
{
    const int rules = BRRRulesByName(name.c_str());
    if (rules < 0) {
        throw py::value_error("rules must be 'hardware' or 'library'");
    }
    return rules;
}

// The keyword options of convert and decode, as brrdecode takes them.
struct Keywords {
    std::uint32_t loops;
    std::uint32_t rate;
    std::optional<std::int64_t> loopStart;
    bool noHeader;
    bool stopAtEnd;
    bool smpl;
    std::string rules;
    std::uint32_t play;
    std::optional<std::int32_t> rootNote;
};

BRRConvertOptions Options(const Keywords& k)
{
    BRRConvertOptions options;
    BRRConvertOptionsInitTool(&options);  // samples as they are found, as brrdecode takes them
    options.loopCount = k.loops;
    options.sampleRate = k.rate;
    options.noHeader = k.noHeader ? 1 : 0;
    options.stopAtEnd = k.stopAtEnd ? 1 : 0;
    options.writeSmpl = k.smpl ? 1 : 0;
    options.rules = Rules(k.rules);
    options.play = k.play;
    if (k.loopStart) {
        if (*k.loopStart < 0) {
            Raise(BRR_STATUS_BAD_LOOP_START);
        }
        options.loopStart = *k.loopStart;
    }
    if (k.rootNote) {
        options.rootNote = *k.rootNote < 0 ? 128 : *k.rootNote;  // a negative note is no note
    }
    return options;
}

// Plans the conversion; raises for an input the options rule out.
BRRConvertResult Plan(const Bytes& data, const BRRConvertOptions& options)
{
    BRRConvertResult plan;
    int status;
    {
        py::gil_scoped_release release;
        status = BRRPlanMemory(data.data(), data.size(), &options, &plan);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    // The warnings brrdecode gives for loops that cannot be what was asked.
    const char* warning = plan.unlooped != 0 ? "the sample does not loop (its end block has no loop flag); "
                                               "loops repeats it whole"
                          : options.loopCount > 1 && plan.loopStart < 0
                              ? "the sample loops but holds no loop start; the whole sample repeats "
                                "(give loop_start, or data with a loop header)"
                              : nullptr;
    if (warning != nullptr && PyErr_WarnEx(PyExc_RuntimeWarning, warning, 2) != 0) {
        throw py::error_already_set();
    }
    return plan;
}

// Copies the WAV bytes in [from, from + size) of the stream into `to`.
struct Window {
    std::uint8_t* to;
    std::uint64_t from;
    std::uint64_t size;
    std::uint64_t at = 0;  // bytes of the stream seen so far
};

int CopyWindow(void* context, const void* bytes, std::size_t size)
{
    auto* w = static_cast<Window*>(context);
    const std::uint64_t begin = std::max(w->at, w->from);
    const std::uint64_t end = std::min(w->at + size, w->from + w->size);
    if (begin < end) {
        std::memcpy(w->to + (begin - w->from), static_cast<const std::uint8_t*>(bytes) + (begin - w->at),
                    static_cast<std::size_t>(end - begin));
    }
    w->at += size;
    return 0;
}

void Render(const Bytes& data, const BRRConvertOptions& options, Window& window, BRRConvertResult& result)
{
    int status;
    {
        py::gil_scoped_release release;
        status = BRRConvertMemory(data.data(), data.size(), &options, CopyWindow, &window, &result);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
}

py::bytes Convert(const py::object& input, const Keywords& keywords)
{
    const Bytes data(input);
    const BRRConvertOptions options = Options(keywords);
    BRRConvertResult result = Plan(data, options);
    py::bytes wav(nullptr, static_cast<std::size_t>(result.wavSize));
    Window window{reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(wav.ptr())), 0, result.wavSize};
    Render(data, options, window, result);
    return wav;
}

py::object OrNone(bool present, const py::object& value) { return present ? value : py::none(); }

// A decoded sample: its samples and what the conversion found, as values.
struct Sample {
    py::array samples;
    std::uint32_t rate;
    std::uint64_t blockCount;
    py::object loopStart;
    std::uint64_t trailingBlocks;
    std::uint32_t extraBytes;
    py::object smplLoop;
    py::object stability;
    py::object repeat;
    py::object note;
};

Sample Decode(const py::object& input, const Keywords& keywords)
{
    const Bytes data(input);
    const BRRConvertOptions options = Options(keywords);
    BRRConvertResult r = Plan(data, options);
    // The WAV's samples are little-endian whatever the host: so is the array.
    const std::uint64_t count = r.sampleCount;
    py::array samples(py::dtype("<i2"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(count)});
    Window window{static_cast<std::uint8_t*>(samples.mutable_data()), BRR_WAV_HEADER_SIZE, 2 * count};
    Render(data, options, window, r);
    static const char* const kStability[] = {"", "stable", "repeats", "undecided"};
    std::string name = BRRNoteName(r.noteIndex) != nullptr ? BRRNoteName(r.noteIndex) : "";
    name.erase(name.find_last_not_of(' ') + 1);
    return Sample{samples, r.sampleRate, r.blockCount,
                  OrNone(r.loopStart >= 0, py::int_(r.loopStart)), r.trailingBlocks, r.extraBytes,
                  OrNone(r.smpl != 0, py::make_tuple(r.smplStart, r.smplEnd)),
                  OrNone(r.stability != BRR_STABILITY_NONE, py::str(kStability[r.stability & 3])),
                  OrNone(r.stability == BRR_STABILITY_REPEATS, py::make_tuple(r.repeatLater, r.repeatEarlier)),
                  OrNone(r.note == BRR_NOTE_FOUND, py::make_tuple(name, r.noteOctave, r.noteCents))};
}

py::array_t<std::int16_t> DecodeBlocks(const py::object& input, BRRDecoder* decoder)
{
    const Bytes blocks(input);
    if (blocks.size() % BRR_BLOCK_SIZE != 0) {
        Raise(BRR_STATUS_BAD_SIZE);
    }
    BRRDecoder fresh;
    BRRDecoderInit(&fresh, BRR_RULES_HARDWARE);
    BRRDecoder* used = decoder != nullptr ? decoder : &fresh;
    const std::size_t count = blocks.size() / BRR_BLOCK_SIZE;
    py::array_t<std::int16_t> samples(static_cast<py::ssize_t>(count * BRR_SAMPLES_PER_BLOCK));
    std::int16_t* out = samples.mutable_data();
    {
        py::gil_scoped_release release;
        BRRDecodeBlocks(used, blocks.data(), count, out);
    }
    return samples;
}

int Effort(const std::string& name)
{
    const int effort = BRREffortByName(name.c_str());
    if (effort < 0) {
        throw py::value_error("effort must be 'fast', 'default' or 'best'");
    }
    return effort;
}

// pcm: a one-dimensional C-contiguous native int16 array (the package
// turns what it accepts into one).
py::bytes Encode(const py::array_t<std::int16_t, py::array::c_style>& pcm, std::optional<std::int64_t> loopStart,
                 const std::string& effort, const std::string& rules, bool resetFilter, bool safeRange,
                 bool loopHeader)
{
    if (pcm.ndim() != 1) {
        throw py::value_error("pcm must be one-dimensional: mono samples");
    }
    BRREncodeOptions options;
    BRREncodeOptionsInit(&options);
    options.loopStart = loopStart.value_or(BRR_NO_LOOP_START);
    options.effort = Effort(effort);
    options.rules = Rules(rules);
    options.resetFilter = resetFilter ? 1 : 0;
    options.safeRange = safeRange ? 1 : 0;
    options.loopHeader = loopHeader ? 1 : 0;
    const auto count = static_cast<std::size_t>(pcm.size());
    std::vector<std::uint8_t> blocks(
        static_cast<std::size_t>(loopHeader ? BRR_ENCODED_FILE_SIZE(count) : BRR_ENCODED_SIZE(count)));
    int status = BRR_OK;
    {
        py::gil_scoped_release release;
        status = BRREncode(pcm.data(), count, &options, blocks.data(), blocks.size(), nullptr);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    return py::bytes(reinterpret_cast<const char*>(blocks.data()), blocks.size());
}

// A sample found inside an image, as BRRScan reports it.
struct Found {
    std::uint64_t offset;
    std::uint64_t blocks;
    py::object loop;
    double score;
    std::string foundBy;
    py::object directory;

    py::object BlocksView(const py::object& data) const
    {
        py::object view = py::module_::import("builtins").attr("memoryview")(data).attr("cast")("B");
        const auto size = py::len(view);
        if (offset + blocks * BRR_BLOCK_SIZE > size) {
            throw py::value_error("data is not the image this sample was found in: it is too short");
        }
        return view[py::slice(static_cast<py::ssize_t>(offset),
                              static_cast<py::ssize_t>(offset + blocks * BRR_BLOCK_SIZE), 1)];
    }
};

int Collect(void* context, const BRRFound* found)
{
    static_cast<std::vector<BRRFound>*>(context)->push_back(*found);
    return 0;
}

std::vector<Found> Scan(const py::object& input, std::uint64_t minBlocks, double minScore,
                        std::optional<std::int64_t> memoryOffset, std::optional<std::int32_t> directory)
{
    const Bytes data(input);
    BRRScanOptions options;
    BRRScanOptionsInit(&options);
    options.minBlocks = minBlocks;
    options.minScore = minScore;
    options.memoryOffset = memoryOffset ? std::max<std::int64_t>(*memoryOffset, -3) : BRR_SCAN_AUTO;
    options.directory = directory ? std::max<std::int32_t>(*directory, -3) : BRR_SCAN_AUTO;
    std::vector<BRRFound> finds;
    int status;
    {
        py::gil_scoped_release release;
        status = BRRScan(data.data(), data.size(), &options, Collect, &finds);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    std::vector<Found> result;
    for (const BRRFound& f : finds) {
        const bool byDirectory = f.foundBy == BRR_FOUND_BY_DIRECTORY;
        result.push_back(Found{f.offset, f.blocks, OrNone(f.loopBlock >= 0, py::int_(f.loopBlock)), f.score,
                               byDirectory ? "directory" : "scan", OrNone(byDirectory, py::int_(f.entry))});
    }
    return result;
}

}  // namespace

// The engine under the vornish_brr package, which checks every argument
// (types, ranges, paths) before it calls in here.
PYBIND11_MODULE(_engine, m)
{
    m.doc() = "The BRR engine under vornish_brr: call the package's functions, which check their arguments.";
    m.attr("__version__") = BRRVersion();
    py::array_t<std::int16_t> table(512, BRRInterpolationTable());
    table.attr("flags").attr("writeable") = false;
    m.attr("INTERPOLATION_TABLE") = table;
    errorType = PyErr_NewExceptionWithDoc(
        "vornish_brr.Error", "A call failed: .status is the library's status number (or None), .text says why.",
        nullptr, nullptr);
    m.attr("Error") = py::reinterpret_borrow<py::object>(errorType);
    py::tuple optionBases = py::make_tuple(py::reinterpret_borrow<py::object>(errorType),
                                           py::reinterpret_borrow<py::object>(PyExc_ValueError));
    optionErrorType = PyErr_NewExceptionWithDoc("vornish_brr.OptionError",
                                                "An argument outside its range (also a ValueError).",
                                                optionBases.ptr(), nullptr);
    m.attr("OptionError") = py::reinterpret_borrow<py::object>(optionErrorType);

    // The classes first, so that the functions' signatures name them.
    py::class_<Found>(m, "Found", "A sample found inside an image.")
        .def_readonly("offset", &Found::offset, "Where its first block starts in the image.")
        .def_readonly("blocks", &Found::blocks, "Its blocks, through the end block.")
        .def_readonly("loop", &Found::loop, "The loop's first block (known from a directory), or None.")
        .def_readonly("score", &Found::score, "0..1: how surely the blocks are audio.")
        .def_readonly("found_by", &Found::foundBy, "'scan' or 'directory'.")
        .def_readonly("directory", &Found::directory, "The directory entry's address, or None.")
        .def("_blocks_view", &Found::BlocksView, py::arg("data"))
        .def("__repr__", [](const Found& f) {
            return py::str("Found(offset={}, blocks={}, loop={}, score={:.2f}, found_by='{}', directory={})")
                .format(f.offset, f.blocks, f.loop, f.score, f.foundBy, f.directory);
        });

    py::class_<BRRDecoder>(m, "Decoder", "A decoder's history and rule set, carried between decode_blocks calls.\n"
                                         "Use one Decoder from one thread at a time.")
        .def(py::init([](const std::string& rules) {
                 BRRDecoder decoder;
                 BRRDecoderInit(&decoder, Rules(rules));
                 return decoder;
             }),
             py::arg("rules") = "hardware")
        .def_readwrite("last", &BRRDecoder::last, "The most recently decoded value (15-bit domain).")
        .def_readwrite("older", &BRRDecoder::older, "The value decoded before it.")
        .def_property_readonly("rules", [](const BRRDecoder& d) { return BRRRulesName(d.rules); })
        .def("__repr__", [](const BRRDecoder& d) {
            return py::str("Decoder(rules='{}', last={}, older={})").format(BRRRulesName(d.rules), d.last, d.older);
        });

    py::class_<Sample>(m, "Sample", "A decoded sample and what the conversion found in it.")
        .def_readonly("samples", &Sample::samples, "The samples, numpy int16.")
        .def_readonly("rate", &Sample::rate, "The sample rate in Hz.")
        .def_readonly("block_count", &Sample::blockCount, "Blocks in one play-through.")
        .def_readonly("loop_start", &Sample::loopStart, "The loop's first block, or None.")
        .def_readonly("trailing_blocks", &Sample::trailingBlocks, "Blocks after the end block.")
        .def_readonly("extra_bytes", &Sample::extraBytes,
                      "Bytes after the last block, left out (2 for a 9k+2-byte file with no_header).")
        .def_readonly("smpl_loop", &Sample::smplLoop, "(first, last) sample of the WAV's smpl loop, or None.")
        .def_readonly("stability", &Sample::stability,
                      "'stable', 'repeats' or 'undecided' with two loops or more, else None.")
        .def_readonly("repeat", &Sample::repeat, "(later, earlier): the passes that begin alike, or None.")
        .def_readonly("note", &Sample::note, "(name, octave, cents) of the loop's probable note, or None.")
        .def("__repr__", [](const Sample& s) {
            return py::str("Sample({} samples at {} Hz, block_count={}, loop_start={}, smpl_loop={}, "
                           "stability={}, note={})")
                .format(py::len(s.samples), s.rate, s.blockCount, s.loopStart, s.smplLoop, s.stability, s.note);
        });

    const auto keywords = [](auto call) {
        return [call](const py::object& data, std::uint32_t loops, std::uint32_t rate,
                      std::optional<std::int64_t> loopStart, bool noHeader, bool stopAtEnd, bool smpl,
                      const std::string& rules, std::uint32_t play, std::optional<std::int32_t> rootNote) {
            return call(data, Keywords{loops, rate, loopStart, noHeader, stopAtEnd, smpl, rules, play, rootNote});
        };
    };
#define VORNISH_KEYWORDS                                                                                  \
    py::arg("data"), py::kw_only(), py::arg("loops") = 1, py::arg("rate") = BRR_PLAYBACK_RATE,             \
        py::arg("loop_start") = py::none(), py::arg("no_header") = false, py::arg("stop_at_end") = false, \
        py::arg("smpl") = true, py::arg("rules") = "hardware", py::arg("play") = 0,                     \
        py::arg("root_note") = py::none()
    m.def("convert", keywords(Convert), VORNISH_KEYWORDS);
    m.def("decode", keywords(Decode), VORNISH_KEYWORDS);
#undef VORNISH_KEYWORDS
    m.def("decode_blocks", &DecodeBlocks, py::arg("blocks"), py::arg("decoder") = nullptr);
    m.def("encode", &Encode, py::arg("pcm"), py::kw_only(), py::arg("loop_start") = py::none(),
          py::arg("effort") = "default", py::arg("rules") = "hardware", py::arg("reset_filter") = true,
          py::arg("safe_range") = true, py::arg("loop_header") = false);
    m.def("scan", &Scan, py::arg("data"), py::kw_only(), py::arg("min_blocks") = 4,
          py::arg("min_score") = BRR_DEFAULT_MIN_SCORE, py::arg("memory_offset") = py::none(),
          py::arg("directory") = py::none());
}
