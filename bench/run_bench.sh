#!/usr/bin/env bash
# Throughput of the web host: requests per second for a static file and for a
# small hosting page, measured with wrk on loopback against a Release build.
#   bash bench/run_bench.sh [PAGE...]
# PAGE: further paths inside the application (e.g. "main.asp") measured after
# the two reference pages. BENCH_LOGIN=1 measures them as the logged-in
# administrator. BENCH_THREADS, BENCH_CONNECTIONS and BENCH_DURATION change
# the wrk load (defaults 2, 32 and 10s); BENCH_SERVER_THREADS the server's
# thread count.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

threads=${BENCH_THREADS:-2}
connections=${BENCH_CONNECTIONS:-32}
duration=${BENCH_DURATION:-10s}

source bench/lib.sh
bench_build
bench_workdir

admin_password=bench-$$-$RANDOM
"$deskhost" init "$work/app" --admin-password "$admin_password" --password-cost min >/dev/null
serve_extra=()
[ -n "${BENCH_SERVER_THREADS:-}" ] && serve_extra+=(--threads "$BENCH_SERVER_THREADS")
bench_start_server tarvo "$work/app" "${serve_extra[@]}"

# The session cookie of a logged-in administrator, for the extra pages.
cookie=
if [ -n "${BENCH_LOGIN:-}" ] && [ $# -gt 0 ]; then
  command -v curl >/dev/null || { echo "bench: BENCH_LOGIN needs curl" >&2; exit 1; }
  cookie=$(bench_login admin "$admin_password")
fi

# The status code of one GET of PATH; COOKIE (optional) is sent with it.
status_of() {
  local path=$1 cookie=${2:-} extra= line
  [ -n "$cookie" ] && extra="Cookie: $cookie"$'\r\n'
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET /tarvo/%s HTTP/1.0\r\nHost: 127.0.0.1\r\n%s\r\n' "$path" "$extra" >&3
  read -r _ line _ <&3 || true
  exec 3<&-
  echo "$line"
}

# One line per page: path, requests/s, average latency. Only a page that
# answers 200 is measured: a redirect (to the login form, say) would measure
# the wrong page.
measure() {
  local path=$1 cookie=${2:-} out code
  local wrk_args=(-t"$threads" -c"$connections" -d"$duration")
  [ -n "$cookie" ] && wrk_args+=(-H "Cookie: $cookie")
  code=$(status_of "$path" "$cookie")
  if [ "$code" != 200 ]; then
    echo "bench: $path answered $code, not 200" >&2
    exit 1
  fi
  out=$(wrk "${wrk_args[@]}" "$base/$path")
  if grep -q 'Non-2xx or 3xx responses' <<<"$out"; then
    echo "bench: $path answered with errors:" >&2
    echo "$out" >&2
    exit 1
  fi
  local rps lat
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  lat=$(awk '$1 == "Latency" {print $2}' <<<"$out")
  echo "$path $rps $lat"
}

echo "wrk -t$threads -c$connections -d$duration against 127.0.0.1:$port ($(nproc) cores)"
lines=("$(measure default.htm)" "$(measure error.asp)")
for extra in "$@"; do
  lines+=("$(measure "$extra" "$cookie")")
done
static=${lines[0]}

static_rps=$(cut -d' ' -f2 <<<"$static")
printf '\n%-22s %14s %12s %10s\n' "page" "requests/s" "avg latency" "of static"
for line in "${lines[@]}"; do
  read -r path rps lat <<<"$line"
  share=$(awk -v a="$rps" -v b="$static_rps" 'BEGIN { printf "%.0f%%", 100 * a / b }')
  printf '%-22s %14s %12s %10s\n' "/tarvo/$path" "$rps" "$lat" "$share"
done
