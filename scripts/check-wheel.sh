#!/usr/bin/env bash
# The CI wheel job: for every CPython from 3.10 on that this machine has, makes a new virtual
# environment, lets plain pip pick from dist/ the wheel that scripts/build-wheel.sh made for that
# interpreter (binary packages only), and runs scripts/check_wheel.py there: the wheel's tag and
# its modules' ABI, library resolution and exported symbols of the modules, conversions of shared
# documents of both formats (../shared/corpus, or PARAVOX_CORPUS) against their expected output,
# the command line, and zlib/numpy in the same process.
#
# The interpreters are every python3.X (X >= 10) on the PATH and the newest 3.X under pyenv's
# versions folder, each once; a minor version from 3.10 to 3.14 that none of them has is skipped
# with a message. PYTHONS="python3.12 /path/to/python3.13" checks those alone.
#
# Run as root where mount namespaces are allowed, all of it happens in a private namespace in
# which the run-time libraries of the build dependencies (libolecf, libbfio, minizip, expat) and
# the C and C++ compilers are covered by empty files, so nothing can load or run them.
set -euo pipefail
cd "$(dirname "$0")/.."

corpus=$(cd "${PARAVOX_CORPUS:-../shared/corpus}" && pwd)
dist=$(pwd)/dist
shopt -s nullglob
wheels=("$dist"/paravox-*.whl)
if [ ${#wheels[@]} -eq 0 ]; then
  echo "check-wheel: no dist/paravox-*.whl; run scripts/build-wheel.sh" >&2
  exit 1
fi
version=$(basename "${wheels[0]}" | cut -d- -f2)

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

# Fills `pythons` with the interpreters to check, by path.
pythons=()
find_interpreters() {
  local name
  if [ -n "${PYTHONS:-}" ]; then
    for name in $PYTHONS; do
      if ! command -v "$name" >/dev/null; then
        echo "check-wheel: no interpreter $name" >&2
        exit 1
      fi
      pythons+=("$("$name" -c 'import sys; print(sys.executable)')")
    done
    return
  fi
  local pyenv_versions=${PYENV_ROOT:-$HOME/.pyenv}/versions minor found candidate interpreter
  for minor in 10 11 12 13 14; do
    found=()
    for candidate in $({
      type -ap "python3.$minor"
      find "$pyenv_versions" -maxdepth 3 -path "*/3.$minor.*/bin/python3.$minor" 2>/dev/null |
        sort -V | tail -n 1
    } | xargs -r realpath | awk '!seen[$0]++'); do
      # A pyenv shim runs the version pyenv has selected, or fails: the interpreter behind it.
      if ! interpreter=$("$candidate" -c 'import sys; print(sys.executable)' 2>/dev/null); then
        # Debian's own interpreters need the libexpat that the namespace covers.
        [[ "$candidate" == */shims/* ]] ||
          echo "check-wheel: $candidate does not start here: skipped"
        continue
      fi
      interpreter=$(realpath "$interpreter")
      [[ " ${found[*]} " == *" $interpreter "* ]] || found+=("$interpreter")
    done
    if [ ${#found[@]} -eq 0 ]; then
      echo "check-wheel: no Python 3.$minor here (on the PATH or under pyenv): skipped"
    fi
    pythons+=("${found[@]}")
  done
}

echo "check-wheel: $(cd "$dist" && ls paravox-*.whl | tr '\n' ' ')"
if [ -n "${PARAVOX_WHEEL_NAMESPACE:-}" ]; then
  echo "check-wheel: in a mount namespace where these are empty files: $PARAVOX_WHEEL_NAMESPACE"
  if cc --version >/dev/null 2>&1; then
    echo "check-wheel: the C compiler still runs in the namespace" >&2
    exit 1
  fi
else
  echo "check-wheel: no mount namespace (needs root); the Debian libraries stay visible"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp scripts/check_wheel.py "$work/"
export LD_LIBRARY_PATH=
unset PYTHONPATH VIRTUAL_ENV PYTHONHOME
find_interpreters

# Installs paravox from dist into a new environment of the interpreter $1 and checks it there.
check_with() {
  local python=$1 venv
  venv=$work/venv-$(echo "$python" | cksum | cut -d' ' -f1)
  "$python" -m venv "$venv" || return 1
  pip_install() {
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: "$@"
  }
  # As the README installs it: pip picks the wheel for this interpreter from dist alone, then
  # the dependencies come from the index; with numpy, a package with binaries of its own, for
  # the check of one process holding both.
  pip_install --no-index --find-links "$dist" --no-deps paravox &&
    pip_install paravox numpy &&
    (cd "$work" && PATH="$venv/bin:$PATH" "$venv/bin/python" check_wheel.py "$corpus" "$version")
}

failed=()
for python in "${pythons[@]}"; do
  echo
  echo "== check-wheel: $python ($("$python" -V 2>&1))"
  # The covering must hold, or the checks prove nothing.
  if [ -n "${PARAVOX_WHEEL_NAMESPACE:-}" ] &&
    "$python" -c 'import ctypes; ctypes.CDLL("libolecf.so.1")' 2>/dev/null; then
    echo "check-wheel: libolecf.so.1 can still be loaded in the namespace" >&2
    exit 1
  fi
  check_with "$python" || failed+=("$python")
done

echo
if [ ${#pythons[@]} -eq 0 ]; then
  echo "check-wheel: no CPython 3.10 or newer to check with" >&2
  exit 1
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "check-wheel: failed with ${failed[*]}" >&2
  exit 1
fi
echo "check-wheel: passed with ${#pythons[@]} interpreters: ${pythons[*]}"
