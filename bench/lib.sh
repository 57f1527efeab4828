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

# The Release deskhost in build-release/ (tests left out), and the further
# TARGETs named; the caller is at the repository root. BENCH_BUILD_DIR names
# another build folder that is already configured (say build/, made by
# scripts/build.sh) to build and measure there instead.
bench_build() {
  bash scripts/deps.sh
  local dir=${BENCH_BUILD_DIR:-build-release}
  if [ -z "${BENCH_BUILD_DIR:-}" ]; then
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  fi
  ninja -C "$dir" deskhost "$@"
  deskhost=$(cd "$dir" && pwd)/bin/deskhost
  bench_bin=$(cd "$dir" && pwd)/bin
}

server_pid=
work=

# Stops PID (a server of bench_spawn_server) and waits until it is gone.
bench_stop_pid() {
  local pid=$1 _
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid"
  for _ in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -9 "$pid" 2>/dev/null || true
}

bench_stop_server() {
  bench_stop_pid "$server_pid"
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

# Starts a deskhost serving APPDIR as /NAME on 127.0.0.1, on a port the
# kernel picks, its messages in LOG; EXTRA... are further `deskhost serve`
# options. BENCH_CPUS (optional) pins it to those cores (taskset). Prints
# "PID PORT" once it listens.
bench_spawn_server() {
  local name=$1 appdir=$2 log=$3
  shift 3
  local pin=()
  [ -n "${BENCH_CPUS:-}" ] && pin=(taskset -c "$BENCH_CPUS")
  : >"$log"  # exists before the server opens it
  "${pin[@]}" "$deskhost" serve --quiet --host 127.0.0.1 --port 0 --vdir "$name=$appdir" "$@" \
    2>>"$log" </dev/null >/dev/null &
  local pid=$! p= _
  for _ in $(seq 1 100); do
    p=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$log")
    [ -n "$p" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; return 1; }
    sleep 0.1
  done
  [ -n "$p" ] || { echo "bench: the server reported no port" >&2; kill "$pid"; return 1; }
  echo "$pid $p"
}

# Serves APPDIR as /NAME on 127.0.0.1, on a port the kernel picks; EXTRA...
# are further `deskhost serve` options.
bench_start_server() {
  local name=$1 appdir=$2 started
  shift 2
  started=$(bench_spawn_server "$name" "$appdir" "$work/serve.log" "$@") || return 1
  read -r server_pid port <<<"$started"
  base="http://127.0.0.1:$port/$name"
}

# The DESKSID cookie ("DESKSID=...") of a login of UID with PASSWORD, at
# BASE (default: the server of bench_start_server).
bench_login() {
  local uid=$1 password=$2 at=${3:-$base} sid
  sid=$(curl -s -o /dev/null -D - --data-urlencode "username=$uid" \
          --data-urlencode "password=$password" "$at/login.asp" |
        tr -d '\r' | sed -n 's/^Set-Cookie: DESKSID=\([^;]*\).*/\1/ip' | tail -1)
  [ -n "$sid" ] || { echo "bench: login of $uid failed" >&2; return 1; }
  echo "DESKSID=$sid"
}

# Prepares N documents, each with one open draft-verification item of UID
# stamped at APPLIED (an SQLite time modifier: '+0 days', '-1 days'), in one
# transaction of DB. Prints "FLOW_BASE ITEM_BASE": document FLOW_BASE + k
# and item ITEM_BASE + k, k = 1..N, belong together.
bench_prepare_steps() {
  local db=$1 uid=$2 n=$3 applied=$4
  sqlite3 -batch -bail -list -separator ' ' "$db" ".parameter set :n $n" \
    ".parameter set :uid $uid" ".parameter set :applied '$applied'" "
BEGIN IMMEDIATE;
CREATE TEMP TABLE base AS
  SELECT (SELECT IFNULL(MAX(id), 0) FROM fawen) AS f,
         (SELECT IFNULL(MAX(id), 0) FROM newwork) AS w;
WITH RECURSIVE seq(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM seq WHERE k < :n)
INSERT INTO fawen (id, title, writeid, writename, writedep, writetime, documentname, filetype,
                   filedata)
SELECT base.f + k, '压力测试公文' || k, 'chen', '陈杰', '办公室', datetime('now', 'localtime'),
       'draft.doc', 'application/msword', randomblob(512)
FROM seq, base;
WITH RECURSIVE seq(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM seq WHERE k < :n)
INSERT INTO newwork (id, userid, title, url, baseid, applytime, typed, status)
SELECT base.w + k, :uid, '压力测试公文' || k, 'hegao.asp', base.f + k,
       datetime('now', 'localtime', :applied), '核稿', 0
FROM seq, base;
COMMIT;
SELECT f, w FROM base;"
}
