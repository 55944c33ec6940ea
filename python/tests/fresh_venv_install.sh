#!/bin/sh
# Installs the package from a copy of the checkout into a fresh virtual
# environment of the given Python, offline, and runs the suite against it.
#   fresh_venv_install.sh SOURCE_DIR WORK_DIR PYTHON
set -eu
src=$1 work=$2 python=$3
rm -rf "$work"
mkdir -p "$work/checkout"
for f in setup.py pyproject.toml LICENSE README.md include src python; do cp -R "$src/$f" "$work/checkout/"; done
"$python" -m venv --system-site-packages "$work/venv"
PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 "$work/venv/bin/pip" install -q --no-build-isolation "$work/checkout"
cd "$work"
"$work/venv/bin/python" -c 'import nametree, sys; sys.exit(0 if "/venv/" in nametree.__file__ else "not the installed package")'
NAMETREE_TEST_TMP="$work/scratch" "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$src/python/tests"
