# Shared by the robustness scripts (sourced, not run): the deskhost binary
# and a temporary work folder removed on exit, also on failure.
#
# After robust_setup:  deskhost  the binary (DESKHOST, else build/bin/deskhost,
#                                built when missing)
#                      work      the temporary folder
# robust_run LIMIT SCRIPT ARGS...  runs bench/robust/SCRIPT with python3 on
# deskhost and the work folder, stopped after LIMIT seconds at the latest.
# The Python drivers start every server themselves, on 127.0.0.1 only; a
# server dies with the driver that started it, however the driver ends.

robust_setup() {
  cd "$(dirname "${BASH_SOURCE[0]}")/../.."
  deskhost=${DESKHOST:-$PWD/build/bin/deskhost}
  if [ ! -x "$deskhost" ]; then
    bash scripts/build.sh deskhost >/dev/null
    deskhost=$PWD/build/bin/deskhost
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/desk-robust-XXXXXX")
  trap 'rm -rf "$work"' EXIT
}

robust_run() {
  local limit=$1 script=$2
  shift 2
  local status=0
  timeout --kill-after=15 "$limit" python3 "bench/robust/$script" "$deskhost" "$work" "$@" ||
    status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "FAIL: $script did not finish within ${limit}s" >&2
    [ -f "$work/serve.log" ] && tail -n 20 "$work/serve.log" >&2
  fi
  return "$status"
}
