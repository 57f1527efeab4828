#!/usr/bin/env bash
# Builds the Release docx_bench in build-release/ and runs it; arguments go to
# docx_bench (--iterations N, --keep FILE). See README.md.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
ninja -C build-release docx_bench >/dev/null
exec build-release/bin/docx_bench "$@"
