"""Puts libtalveco.so.1 into the package: the one TALVECO_LIBRARY names, or
one built here with CMake from the talveco source tree around this folder.
The package then holds a native library, so its wheel is platform-specific."""

import os
import re
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution
from wheel.bdist_wheel import bdist_wheel

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


def project_version():
    # The C library's version is the project's; a copy of this folder alone
    # (as the tests install it) takes it from the library named instead.
    try:
        with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as cmake:
            return re.search(r"project\(talveco VERSION ([0-9.]+)", cmake.read()).group(1)
    except (OSError, AttributeError):
        named = os.path.realpath(os.environ["TALVECO_LIBRARY"])
        return re.search(r"\.so\.([0-9.]+)$", named).group(1)


def built_library(build_temp):
    named = os.environ.get("TALVECO_LIBRARY")
    if named:
        return named
    build = os.path.join(os.path.abspath(build_temp), "talveco-c")
    subprocess.check_call(
        ["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
         "-DTALVECO_BUILD_TESTS=OFF"]
    )
    subprocess.check_call(["cmake", "--build", build, "--target", "talveco_c", "-j2"])
    return os.path.join(build, "capi", "libtalveco.so.1")


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        build_temp = self.get_finalized_command("build").build_temp
        target = os.path.join(self.build_lib, "talveco", "libtalveco.so.1")
        shutil.copyfile(built_library(build_temp), target)


class NativeWheel(bdist_wheel):
    # ctypes needs no particular Python or ABI, only the platform of the library.
    def get_tag(self):
        return ("py3", "none", super().get_tag()[2])


class NativeDistribution(Distribution):
    def has_ext_modules(self):
        return True


setup(
    version=project_version(),
    cmdclass={"build_py": BuildWithLibrary, "bdist_wheel": NativeWheel},
    distclass=NativeDistribution,
)
