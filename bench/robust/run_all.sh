#!/usr/bin/env bash
# Every robustness script in turn: crash safety, slow clients, load, big
# bodies. --short runs the sizes meant for CI (about a minute in all);
# without it the full sizes (the load alone takes ten minutes).
#   bash bench/robust/run_all.sh [--short]
# Exits 1 when any script found a bound broken.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
mode=()
[ "${1:-}" = --short ] && mode=(--short)
status=0
failed=()
for script in crash slow load bigbody; do
  echo "== $script ${mode[*]}"
  start=$(date +%s)
  if ! bash "$script.sh" "${mode[@]}"; then
    status=1
    failed+=("$script")
  fi
  echo "== $script took $(($(date +%s) - start)) s"
done
[ $status -eq 0 ] && echo "robust: all passed" || echo "robust: FAILED: ${failed[*]}"
exit $status
