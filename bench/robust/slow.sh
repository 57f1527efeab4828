#!/usr/bin/env bash
# Slow clients: CONNECTIONS connections send one byte of a request head every
# 5 s for SECONDS while logged-in users work; the users must get no error and
# a 99th percentile under 1 s.
#   bash bench/robust/slow.sh [--short | CONNECTIONS SECONDS]   default 1000 60; --short: 1000 20
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
connections=${1:-1000} seconds=${2:-60}
[ "$connections" = --short ] && connections=1000 seconds=20
for v in "$connections" "$seconds"; do
  [[ $v =~ ^[1-9][0-9]*$ ]] || { echo "usage: slow.sh [--short | CONNECTIONS SECONDS]" >&2; exit 2; }
done
robust_setup
robust_run $((seconds + 120)) slow.py "$connections" "$seconds" 5
