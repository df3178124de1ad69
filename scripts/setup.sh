#!/usr/bin/env bash
# Installs what paravox needs on a Debian machine: the system packages the build needs, then a
# virtual environment (.venv in the repository) holding the package, its test tools and the
# build tools. Safe to run again: system packages are only installed when missing, the
# environment is made once per interpreter, and the package is rebuilt from the working tree.
#
# The environment is made with the first python3 on the PATH (3.10 or newer), Debian's own
# included; PYTHON=/path/to/python chooses another, PARAVOX_VENV=DIR another place for it,
# PARAVOX_EXTRAS the package's extras to install (default: those the tests need).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh

python=${PYTHON:-python3}
if ! command -v "$python" >/dev/null; then
  echo "setup: no $python on the PATH; paravox needs Python 3.10 or newer" >&2
  exit 1
fi
# The interpreter itself, not a launcher in front of it (pyenv puts shims on the PATH).
python=$("$python" -c 'import sys; print(sys.executable)')
if ! "$python" -c 'import sys; sys.exit(sys.version_info < (3, 10))'; then
  echo "setup: paravox needs Python 3.10 or newer; $python is $("$python" -V 2>&1)" >&2
  echo "setup: name another interpreter with PYTHON=/path/to/python3" >&2
  exit 1
fi

debs=(
  build-essential pkg-config
  libolecf-dev libbfio-dev libolecf-utils   # compound-file reader (and its tools, used by tests)
  zlib1g-dev                                # raw DEFLATE
  libexpat1-dev                             # the XML reader is fuzzed and measured against expat
  libgtest-dev libgmock-dev libbenchmark-dev
  clang                                     # fuzzing and sanitizer builds
  clang-format                              # C++ formatting (.clang-format)
)

# Debian's own interpreters come without venv, ensurepip and the C headers: those are packages
# of their own, named after the interpreter (python3-venv for the default python3).
python_version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
if [ "$(realpath "$python")" = "$(realpath /usr/bin/python3 2>/dev/null)" ]; then
  debs+=(python3-venv python3-dev)
elif [[ "$(realpath "$python")" == /usr/bin/* ]]; then
  debs+=("python$python_version-venv" "python$python_version-dev")
fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

apt_install() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  if [ -z "${apt_updated:-}" ]; then
    $sudo apt-get update -q
    apt_updated=1
  fi
  $sudo apt-get install -y -q --no-install-recommends "$@"
}

missing=()
for deb in "${debs[@]}"; do
  installed "$deb" || missing+=("$deb")
done
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

# The sanitizer and fuzzing runtimes of the clang just installed, whatever its version:
# libclang-rt-dev follows the release's default clang where the release has it.
clang_major=$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
if ! installed "libclang-rt-$clang_major-dev"; then
  if apt-cache show libclang-rt-dev >/dev/null 2>&1; then
    apt_install libclang-rt-dev
  else
    apt_install "libclang-rt-$clang_major-dev"
  fi
fi

# An environment made by another interpreter (or whose interpreter is gone) is made anew.
made_by() {
  "$venv/bin/python" -c 'import os, sys; print(os.path.realpath(sys._base_executable))' \
    2>/dev/null || true
}
if [ -d "$venv" ] && [ "$(made_by)" != "$(realpath "$python")" ]; then
  echo "setup: remaking $venv with $python" >&2
  rm -rf "$venv"
fi
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
fi

pip_install() {
  "$venv/bin/python" -m pip install -q --disable-pip-version-check "$@"
}
# The extras the tests need by default; PARAVOX_EXTRAS= (empty) installs the package alone.
extras=${PARAVOX_EXTRAS-test,parquet,storage,dask,docling,langchain,llama-index}
pip_install "scikit-build-core>=0.10" cmake ninja ".${extras:+[$extras]}"
