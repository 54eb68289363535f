// The engine under vornish_brr: what its two source files share.
#ifndef VORNISH_PYTHON_ENGINE_H
#define VORNISH_PYTHON_ENGINE_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "VornishAudioBRR.h"

namespace engine {

namespace py = pybind11;

// The package's exceptions: Error, and OptionError (also a ValueError).
extern PyObject* errorType;
extern PyObject* optionErrorType;

// The library's failure as an exception: OptionError for the options' own
// statuses, Error for what rules the input out.
[[noreturn]] void Raise(int status);

// A rule set's value from its name; ValueError for any other name.
int Rules(const std::string& name);

inline py::object OrNone(bool present, const py::object& value) { return present ? value : py::none(); }

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

// The class Found and the functions scan and encode.
void DefineScanAndEncode(py::module_& m);

// The functions is_dump, read_dump and insert.
void DefineMemory(py::module_& m);

// The function shape.
void DefineShape(py::module_& m);

}  // namespace engine

#endif
