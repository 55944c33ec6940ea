"""Builds the nametree Python package: the library's sources and the binding
in one extension module, with Debian's pybind11 and ICU (no download):

    /usr/bin/python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation .
"""
import glob
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

ParallelCompile("NAMETREE_BUILD_JOBS").install()

with open("include/nametree/version.h", encoding="utf-8") as header:
    version = re.search(r'NAMETREE_VERSION_STRING "([^"]+)"', header.read()).group(1)

core = Pybind11Extension(
    "nametree._nametree",
    sorted(glob.glob("src/*/*.cc")) + ["python/nametree/_binding.cc"],
    include_dirs=["include", "src"],
    libraries=["icui18n", "icuuc"],
    cxx_std=20,
)

setup(
    name="nametree",
    version=version,
    description="Keep the names of a host's objects valid, unique and persistent",
    license="see LICENSE",
    python_requires=">=3.9",
    packages=["nametree"],
    package_dir={"": "python"},
    package_data={"nametree": ["py.typed", "*.pyi"]},
    ext_modules=[core],
    zip_safe=False,
)
