# Shared by the benchmark scripts (sourced, not run): the Release build, the
# temporary work folder and the server on loopback.
#
# After bench_build:          deskhost  the Release binary
# After bench_workdir:        work      a temporary folder, removed on exit
# After bench_start_server:   server_pid, port, base (http://127.0.0.1:PORT/NAME)
# The EXIT trap stops the server and removes the folder, also on failure.

# Installs the Debian packages the benchmarks need that are missing. Root, or
# sudo when there is one.
bench_install() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || {
      echo "bench: missing packages (${missing[*]}); run as root" >&2
      return 1
    }
    sudo=(sudo)
  fi
  echo "bench: installing ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The Release deskhost in build-release/ (tests left out); the caller is at the
# repository root.
bench_build() {
  bash scripts/deps.sh
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  ninja -C build-release deskhost
  deskhost=$PWD/build-release/bin/deskhost
}

server_pid=
work=

bench_stop_server() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
  fi
  server_pid=
}

bench_cleanup() {
  bench_stop_server
  [ -n "$work" ] && rm -rf "$work"
}

bench_workdir() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/desk-bench-XXXXXX")
  trap bench_cleanup EXIT
}

# Serves APPDIR as /NAME on 127.0.0.1, on a port the kernel picks; EXTRA...
# are further `deskhost serve` options.
bench_start_server() {
  local name=$1 appdir=$2
  shift 2
  : >"$work/serve.log"  # exists before the server opens it
  "$deskhost" serve --quiet --host 127.0.0.1 --port 0 --vdir "$name=$appdir" "$@" \
    2>>"$work/serve.log" &
  server_pid=$!
  port=
  local _
  for _ in $(seq 1 100); do
    port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/serve.log")
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$work/serve.log" >&2; return 1; }
    sleep 0.1
  done
  [ -n "$port" ] || { echo "bench: the server reported no port" >&2; return 1; }
  base="http://127.0.0.1:$port/$name"
}

# The DESKSID cookie ("DESKSID=...") of a login of UID with PASSWORD.
bench_login() {
  local uid=$1 password=$2 sid
  sid=$(curl -s -o /dev/null -D - --data-urlencode "username=$uid" \
          --data-urlencode "password=$password" "$base/login.asp" |
        tr -d '\r' | sed -n 's/^Set-Cookie: DESKSID=\([^;]*\).*/\1/ip' | tail -1)
  [ -n "$sid" ] || { echo "bench: login of $uid failed" >&2; return 1; }
  echo "DESKSID=$sid"
}
