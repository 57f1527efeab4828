#!/usr/bin/env bash
# Crash safety: KILLS times SIGKILL to the server while clients take approval
# steps, send mail with attachments and upload files; after every restart the
# database is checked (integrity, every acknowledged write whole, nothing
# half-done). Exits 1 when a write is lost or anything is half-done.
#   bash bench/robust/crash.sh [--short | KILLS [SEED]]   default 100 kills; --short: 8
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kills=${1:-100}
[ "$kills" = --short ] && kills=8
shift || true
[[ $kills =~ ^[1-9][0-9]*$ ]] || { echo "usage: crash.sh [--short | KILLS [SEED]]" >&2; exit 2; }
robust_setup
# A cycle takes a few seconds: the load runs up to 2.5 s before each kill.
robust_run $((60 + kills * 20)) crash.py "$kills" "$@"
