#!/usr/bin/env bash
# Builds everything and runs all tests: the C++ tests through CTest, then the
# browser tests (Debian's Chromium driven by Playwright, tests/browser/).
# Exits non-zero when the build or any test fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/deps.sh
bash scripts/build.sh

status=0
(cd build && ctest --output-on-failure -j2) || status=1

# Faults from outside, short sizes: kills during writes, slow clients, load
# and big bodies, each against its own server on 127.0.0.1 (bench/robust/).
DESKHOST=$PWD/build/bin/deskhost bash bench/robust/run_all.sh --short || status=1

# Every parser of outside input: its kept corpus (replayed by CTest above)
# plus a short run of new inputs under libFuzzer.
bash scripts/fuzz.sh --seconds "${DESK_FUZZ_SECONDS:-60}" || status=1

# The browser tests use the system's Chromium; nothing downloads a browser.
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
cd tests/browser
lock_hash=$(sha256sum package-lock.json | cut -d' ' -f1)
if [ "$(cat node_modules/.lock-hash 2>/dev/null)" != "$lock_hash" ]; then
  npm ci --no-audit --no-fund --loglevel=error
  echo "$lock_hash" >node_modules/.lock-hash
fi
# One test file at a time: each starts its own server and browser.
node_args=(--test)
node --help | grep -q -- --test-concurrency && node_args+=(--test-concurrency=1)
node "${node_args[@]}" ./*.test.mjs || status=1

exit $status
