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
root=$PWD

threads=${BENCH_THREADS:-2}
connections=${BENCH_CONNECTIONS:-32}
duration=${BENCH_DURATION:-10s}

bash scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
ninja -C build-release deskhost
deskhost=$root/build-release/bin/deskhost

work=$(mktemp -d "${TMPDIR:-/tmp}/desk-bench-XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

admin_password=bench-$$-$RANDOM
"$deskhost" init "$work/app" --admin-password "$admin_password" --password-cost min >/dev/null
serve_args=(serve --quiet --host 127.0.0.1 --port 0 --vdir "tarvo=$work/app")
[ -n "${BENCH_SERVER_THREADS:-}" ] && serve_args+=(--threads "$BENCH_SERVER_THREADS")
: >"$work/serve.log"  # exists before the server opens it
"$deskhost" "${serve_args[@]}" 2>>"$work/serve.log" &
server_pid=$!

# Port 0: the server picks a free port and reports it.
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/serve.log")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/serve.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "bench: the server reported no port" >&2; exit 1; }
base="http://127.0.0.1:$port/tarvo"

# The session cookie of a logged-in administrator, for the extra pages.
cookie=
if [ -n "${BENCH_LOGIN:-}" ] && [ $# -gt 0 ]; then
  command -v curl >/dev/null || { echo "bench: BENCH_LOGIN needs curl" >&2; exit 1; }
  sid=$(curl -s -o /dev/null -D - --data-urlencode username=admin \
          --data-urlencode "password=$admin_password" "$base/login.asp" |
        sed -n 's/^Set-Cookie: DESKSID=\([^;]*\).*/\1/ip' | tail -1)
  [ -n "$sid" ] || { echo "bench: login failed" >&2; exit 1; }
  cookie="DESKSID=$sid"
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
