#!/usr/bin/env bash
# Fuzzes every fuzz target for an hour each (not part of CI, which fuzzes
# each for a minute). Runs scripts/fuzz.sh, so crashes land in
# test-output/fuzz/ and fail the run; the kept corpora are not changed.
#   bash bench/fuzz_hour.sh [TARGET...]     default: every fuzz_* target
# FUZZ_SECONDS changes the time per target (default 3600).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
exec bash scripts/fuzz.sh --seconds "${FUZZ_SECONDS:-3600}" "$@"
