#!/usr/bin/env bash
# Load: CLIENTS keep-alive users for SECONDS over the desk, the menu, mail and
# approval steps: no error, a 99th percentile under 500 ms, memory flat.
#   bash bench/robust/load.sh [--short | SECONDS [CLIENTS]]   default 600 s, 50 clients; --short: 20 s
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
seconds=${1:-600} clients=${2:-50}
[ "$seconds" = --short ] && seconds=20 clients=50
for v in "$seconds" "$clients"; do
  [[ $v =~ ^[1-9][0-9]*$ ]] || { echo "usage: load.sh [--short | SECONDS [CLIENTS]]" >&2; exit 2; }
done
robust_setup
robust_run $((seconds + 180)) load.py "$clients" "$seconds"
