#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run, test and benchmark the
# office suite. Only missing packages are installed; when everything is present
# the script returns at once and needs no network.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config ccache clang-format
  libboost-dev libsqlite3-dev libsodium-dev nlohmann-json3-dev
  libgtest-dev googletest libbenchmark-dev libcurl4-openssl-dev
  wrk
  clang libclang-rt-14-dev  # fuzzing with libFuzzer (scripts/fuzz.sh)
  chromium fonts-noto-cjk  # browser tests; the font draws the pages' Chinese text
  python3 make             # node-gyp builds the browser tests' SQLite binding
  python3-pil              # image tooling
  node-busboy              # reference of the multipart benchmark (bench/run_multipart_bench.sh)
  libzip-dev libpugixml-dev libssl-dev  # the .docx engine of the document control
  libreoffice-writer-nogui poppler-utils  # printing to PDF; its tests read the PDF back
  python3-pyftpdlib        # the FTP server the control's transfer tests start
)
# A machine may bring its own Node.js with npm; Debian's is installed only
# when there is none.
if ! command -v node >/dev/null 2>&1; then
  packages+=(nodejs npm)
elif ! command -v npm >/dev/null 2>&1; then
  packages+=(npm)
fi

installed() {
  dpkg -s "$1" 2>/dev/null | grep -q '^Status: install ok installed'
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
  else
    echo "deps: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
