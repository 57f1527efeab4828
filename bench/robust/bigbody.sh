#!/usr/bin/env bash
# Big bodies: a 1 GiB upload is refused before it is read; UPLOADS concurrent
# uploads of MB MiB (the upload ceiling raised to fit) succeed with the
# server's memory growth under three times the bytes in flight.
#   bash bench/robust/bigbody.sh [--short | UPLOADS MB]   default 20 20; --short: 20 5
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
uploads=${1:-20} mb=${2:-20}
[ "$uploads" = --short ] && uploads=20 mb=5
for v in "$uploads" "$mb"; do
  [[ $v =~ ^[1-9][0-9]*$ ]] || { echo "usage: bigbody.sh [--short | UPLOADS MB]" >&2; exit 2; }
done
robust_setup
robust_run 600 bigbody.py "$uploads" "$mb"
