"""The extension of the vornish_brr package, built by the project's CMake
build (the same sources and flags as every other build), for the
interpreter that runs pip. See pyproject.toml."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     f"-DPython3_EXECUTABLE={sys.executable}", "-DVORNISH_BUILD_PYTHON=ON",
                     "-DVORNISH_BUILD_TESTS=OFF", "-DVORNISH_BUILD_TOOLS=OFF", "-DVORNISH_BUILD_BENCHMARKS=OFF"]
        try:  # pybind11 from pip (an isolated build) has its CMake package inside
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        subprocess.run(configure, check=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "vornish_brr_engine", "-j", jobs], check=True)
        built = next(p for p in (build / "python" / "vornish_brr").glob("_engine.*") if p.suffix in (".so", ".pyd"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


# Out of the way of the CMake presets' build/<preset> folders.
(SOURCE / "build" / "pip").mkdir(parents=True, exist_ok=True)
setup(ext_modules=[Extension("vornish_brr._engine", sources=[])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build/pip"}, "egg_info": {"egg_base": "build/pip"}})
