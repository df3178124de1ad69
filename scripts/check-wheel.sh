#!/usr/bin/env bash
# The CI wheel job: installs the wheel that scripts/build-wheel.sh made (dist/paravox-*.whl) with
# plain pip, binary packages only, into a new virtual environment, and runs scripts/check_wheel.py
# there: library resolution and exported symbols of the modules, conversions of shared documents
# (../shared/corpus, or PARAVOX_CORPUS) against their expected output, the command line, and
# zlib/numpy in the same process.
#
# Run as root where mount namespaces are allowed, all of it happens in a private namespace in
# which the run-time libraries of the build dependencies (libolecf, libbfio, minizip, expat) and
# the C and C++ compilers are covered by empty files, so nothing can load or run them.
set -euo pipefail
cd "$(dirname "$0")/.."

python=${PYTHON:-python3}
corpus=$(cd "${PARAVOX_CORPUS:-../shared/corpus}" && pwd)
shopt -s nullglob
wheels=(dist/paravox-*.whl)
if [ ${#wheels[@]} -ne 1 ]; then
  echo "check-wheel: expected one dist/paravox-*.whl, found ${#wheels[@]}; run scripts/build-wheel.sh" >&2
  exit 1
fi
wheel=$(realpath "${wheels[0]}")
version=$(basename "$wheel" | cut -d- -f2)

hidden_files() {
  local arch file tool
  arch=$(gcc -dumpmachine 2>/dev/null || echo x86_64-linux-gnu)
  for file in /usr/lib/"$arch"/lib{olecf,bfio,minizip,expat,expatw}.so.*; do
    if [ -f "$file" ] && [ ! -L "$file" ]; then echo "$file"; fi
  done
  for tool in gcc g++ cc c++ clang clang++ "$arch-gcc" "$arch-g++"; do
    if command -v "$tool" >/dev/null; then realpath "$(command -v "$tool")"; fi
  done | sort -u
}

# Whether files can be covered in a private mount namespace here (root, and allowed to mount).
can_cover() {
  [ "$(id -u)" -eq 0 ] || return 1
  local probe
  probe=$(mktemp)
  unshare -m sh -c 'mount --make-rprivate / && mount --bind /dev/null "$1"' probe "$probe" 2>/dev/null
  local status=$?
  rm -f "$probe"
  return $status
}

if [ -z "${PARAVOX_WHEEL_NAMESPACE:-}" ] && can_cover; then
  covered=$(hidden_files | tr '\n' ' ')
  exec unshare -m bash -c '
    set -euo pipefail
    mount --make-rprivate /
    empty=$(mktemp)
    for file in $1; do mount --bind "$empty" "$file"; done
    PARAVOX_WHEEL_NAMESPACE="$1" exec bash "$2"
  ' check-wheel "$covered" "$0"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "check-wheel: $(basename "$wheel") ($(stat -c %s "$wheel") bytes)"
if [ -n "${PARAVOX_WHEEL_NAMESPACE:-}" ]; then
  echo "check-wheel: in a mount namespace where these are empty files: $PARAVOX_WHEEL_NAMESPACE"
  # The covering must hold, or the run below proves nothing.
  if "$python" -c 'import ctypes; ctypes.CDLL("libolecf.so.1")' 2>/dev/null; then
    echo "check-wheel: libolecf.so.1 can still be loaded in the namespace" >&2
    exit 1
  fi
  if cc --version >/dev/null 2>&1; then
    echo "check-wheel: the C compiler still runs in the namespace" >&2
    exit 1
  fi
else
  echo "check-wheel: no mount namespace (needs root); the Debian libraries stay visible"
fi

"$python" -m venv "$work/venv"
export PATH="$work/venv/bin:$PATH" LD_LIBRARY_PATH=
unset PYTHONPATH VIRTUAL_ENV PYTHONHOME
pip_install() {
  "$work/venv/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: "$@"
}
pip_install "$wheel"
pip_install numpy  # a package with binaries of its own, for the check of one process holding both

cp scripts/check_wheel.py "$work/"
cd "$work"
"$work/venv/bin/python" check_wheel.py "$corpus" "$version"
