# pip install . into a fresh venv that sees the system's packages (offline,
# with Debian's setuptools, pybind11 and numpy), then the package imported
# and used from there, away from the source and build folders.
# Run with -DPYTHON=... -DSOURCE_DIR=... -DWORK_DIR=...
cmake_policy(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/run_helpers.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
unset(ENV{PYTHONPATH})
run(${PYTHON} -m venv --system-site-packages ${WORK_DIR}/venv)
run(${WORK_DIR}/venv/bin/python -m pip install --no-index --no-build-isolation ${SOURCE_DIR})
run(${WORK_DIR}/venv/bin/python -c "import sys, vornish_brr as v; wav = v.convert(sys.argv[1]); \
sys.exit(0 if len(wav) == 16044 and v.__file__.startswith(sys.argv[2]) else 1)"
    ${SOURCE_DIR}/examples/tone.brr ${WORK_DIR}/venv)
