#!/usr/bin/env bash
# Installs what paravox needs on a Debian machine (system libraries, Python tools) and
# installs the package itself with pip. Safe to run again: it only installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

debs=(
  build-essential pkg-config
  libolecf-dev libbfio-dev libolecf-utils   # compound-file reader (and its tools, used by tests)
  zlib1g-dev                                # raw DEFLATE
  libminizip-dev libexpat1-dev              # HWPX: ZIP package and XML parts
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev                  # fuzzing and sanitizer builds
)
missing=()
for deb in "${debs[@]}"; do
  dpkg-query -W -f='${Status}' "$deb" 2>/dev/null | grep -q "install ok installed" || missing+=("$deb")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

pip_install() {
  python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore "$@"
}
pip_install "scikit-build-core>=0.10" cmake ninja
pip_install ".[test]"
