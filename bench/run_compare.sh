#!/usr/bin/env bash
# The web host beside references measured in the same run: each page beside
# nginx serving the very bytes the host answered, an approval step beside the
# same reads and writes straight on SQLite, the desk of a user with a large
# backlog beside the ordinary desk. Server pinned to core 0 with one thread,
# wrk pinned to core 1; BENCH_ROUNDS alternating rounds (default 3), medians.
#   bash bench/run_compare.sh
# BENCH_SECONDS (default 5) per measurement, BENCH_CONNECTIONS (default 16)
# open connections of wrk, BENCH_STEP_ITEMS (default 25000) open items
# prepared per step run. See bench/README.md.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

rounds=${BENCH_ROUNDS:-3}
seconds=${BENCH_SECONDS:-5}
connections=${BENCH_CONNECTIONS:-16}
step_items=${BENCH_STEP_ITEMS:-25000}
step_seconds=$seconds
for v in "$rounds" "$seconds" "$connections" "$step_items"; do
  [[ $v =~ ^[1-9][0-9]*$ ]] || { echo "bench: settings must be positive whole numbers" >&2; exit 2; }
done
[ "$(nproc)" -ge 2 ] || { echo "bench: needs two cores (server and wrk pinned apart)" >&2; exit 2; }

source bench/lib.sh
source bench/seed_desk.sh
bench_install wrk nginx sqlite3 curl
bench_build bench_step_sqlite
step_sqlite=$bench_bin/bench_step_sqlite
bench_workdir

nginx_pid=
server2_pid=
compare_cleanup() {
  bench_stop_pid "$nginx_pid"
  bench_stop_pid "$server2_pid"
  bench_cleanup
}
trap compare_cleanup EXIT

app=$work/app
db=$app/data/office.db
"$deskhost" init "$app" --demo --password-cost min --admin-password "bench-$$-$RANDOM" >/dev/null

# The desks: zhang's ordinary one (8 items today, 10 mails, 5 notices) and
# wang's with a backlog (the same and 60000 open items from earlier days,
# 100000 mails). Steps are zhao's, on items of their own.
echo "preparing the data..."
seed_notices "$db" 5
seed_desk "$db" zhang 8 0 10
seed_desk "$db" wang 8 60000 100000
all_steps=$((2 * rounds * step_items))
read -r flow_base item_base < <(bench_prepare_steps "$db" zhao "$all_steps" '-1 days')
[ -n "$item_base" ] || { echo "bench: preparing the step items failed" >&2; exit 1; }

# The host: one thread on core 0.
BENCH_CPUS=0 bench_start_server tarvo "$app" --threads 1
zhang=$(bench_login zhang zhang123)
wang=$(bench_login wang wang123)
zhao=$(bench_login zhao zhao123)

# The pages, and what nginx serves in their place: the host's answer body,
# saved under the same path.
ng=$work/nginx
mkdir -p "$ng/root/tarvo" "$ng/tmp"
pages=(default.htm right.asp left.asp mailbox.asp newwork.asp)
names=("static file" "desk" "menu" "mail box" "pending work")
targets=(0.8 0.5 0.4 0.4 0.4)
capture() {  # PATH COOKIE FILE: the body of one GET, which must answer 200
  local code
  code=$(curl -s -o "$3" -w '%{http_code}' -H "Cookie: $2" "$base/$1")
  [ "$code" = 200 ] || { echo "bench: $1 answered $code" >&2; exit 1; }
}
for p in "${pages[@]}"; do capture "$p" "$zhang" "$ng/root/tarvo/$p"; done
capture right.asp "$wang" "$ng/root/tarvo/bigdesk.asp"
ngport=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$ng/nginx.conf" <<EOF
worker_processes 1;
daemon off;
master_process off;
pid $ng/nginx.pid;
error_log $ng/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_requests 100000000;
  types { text/html htm asp; }
  default_type text/html;
  client_body_temp_path $ng/tmp/body;
  proxy_temp_path $ng/tmp/proxy;
  fastcgi_temp_path $ng/tmp/fastcgi;
  uwsgi_temp_path $ng/tmp/uwsgi;
  scgi_temp_path $ng/tmp/scgi;
  server {
    listen 127.0.0.1:$ngport;
    root $ng/root;
  }
}
EOF
taskset -c 0 nginx -p "$ng" -c "$ng/nginx.conf" </dev/null >/dev/null 2>>"$ng/error.log" &
nginx_pid=$!
ngbase=http://127.0.0.1:$ngport/tarvo
for _ in $(seq 1 50); do
  curl -s -o /dev/null "$ngbase/default.htm" && break
  sleep 0.1
done
for p in "${pages[@]}" bigdesk.asp; do
  cmp -s <(curl -s "$ngbase/$p") "$ng/root/tarvo/$p" ||
    { echo "bench: nginx does not serve $p as captured" >&2; exit 1; }
done

# Requests per second of one wrk run on core 1: URL COOKIE.
rps() {
  local out
  out=$(taskset -c 1 wrk -t1 -c"$connections" -d"${seconds}s" -H "Cookie: $2" "$1")
  if grep -q 'Non-2xx or 3xx responses' <<<"$out"; then
    echo "bench: $1 answered with errors:" >&2
    echo "$out" >&2
    exit 1
  fi
  grep 'Socket errors' <<<"$out" | sed "s|^ *|bench: $1: |" >&2 || true
  awk '/^Requests\/sec:/ {print $2}' <<<"$out"
}

# Steps per second of the host on items FROM+1..FROM+step_items, and of the
# same work straight on SQLite (the server idles meanwhile); each prints
# "RATE STEPS".
marker=$(printf '公文已发送' | iconv -f UTF-8 -t GB18030)
host_steps() {
  local from=$1 out line ok secs
  out=$(taskset -c 1 wrk -t4 -c4 -d"$((step_seconds + 3))s" -H "Cookie: $zhao" \
    -s bench/hegao_step.lua "$base/hegao.asp" -- \
    "$((flow_base + from))" "$((item_base + from))" "$step_items" 4 "$step_seconds" "$marker")
  line=$(grep '^steps:' <<<"$out") || { echo "$out" >&2; exit 1; }
  if ! grep -q 'refused=0 other=0 unanswered=0 exhausted=0' <<<"$line"; then
    echo "bench: the step run went wrong: $line" >&2
    exit 1
  fi
  ok=$(sed -n 's/.* ok=\([0-9]*\).*/\1/p' <<<"$line")
  secs=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  awk -v n="$ok" -v s="$secs" 'BEGIN { printf "%.2f %d\n", n / s, n }'
}
raw_steps() {
  local from=$1 line ok secs
  line=$(taskset -c 0 "$step_sqlite" "$db" zhao 赵敏 "$((flow_base + from))" "$((item_base + from))" \
    "$step_items" "$step_seconds")
  ok=$(sed -n 's/.* ok=\([0-9]*\).*/\1/p' <<<"$line")
  secs=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  [ "$ok" -lt "$step_items" ] || { echo "bench: the reference ran out of items" >&2; exit 1; }
  awk -v n="$ok" -v s="$secs" 'BEGIN { printf "%.2f %d\n", n / s, n }'
}

# The desk with two server threads: a second host on both cores.
desk2() {
  local started r
  started=$(BENCH_CPUS=0,1 bench_spawn_server tarvo "$app" "$work/serve2.log" --threads 2)
  read -r server2_pid port2 <<<"$started"
  local cookie
  cookie=$(bench_login zhang zhang123 "http://127.0.0.1:$port2/tarvo")
  r=$(rps "http://127.0.0.1:$port2/tarvo/right.asp" "$cookie")
  bench_stop_pid "$server2_pid"
  server2_pid=
  echo "$r"
}

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the run;" \
  "wrk -t1 -c$connections ${seconds}s per run on core 1, servers on core 0"
declare -A host ref
steps_done=0
for r in $(seq 1 "$rounds"); do
  for i in "${!pages[@]}"; do
    host[$i,$r]=$(rps "$base/${pages[$i]}" "$zhang")
    ref[$i,$r]=$(rps "$ngbase/${pages[$i]}" "$zhang")
  done
  host[big,$r]=$(rps "$base/right.asp" "$wang")
  ref[big,$r]=$(rps "$ngbase/bigdesk.asp" "$wang")
  n=
  read -r "host[step,$r]" n < <(host_steps $(((2 * r - 2) * step_items)))
  [ -n "$n" ] || exit 1
  steps_done=$((steps_done + n))
  n=
  read -r "ref[step,$r]" n < <(raw_steps $(((2 * r - 1) * step_items)))
  [ -n "$n" ] || exit 1
  steps_done=$((steps_done + n))
  host[desk2,$r]=$(desk2)
  printf 'round %d: static %s/%s desk %s/%s menu %s/%s mailbox %s/%s pending %s/%s big desk %s step %s/%s desk, 2 threads %s\n' \
    "$r" "${host[0,$r]}" "${ref[0,$r]}" "${host[1,$r]}" "${ref[1,$r]}" "${host[2,$r]}" \
    "${ref[2,$r]}" "${host[3,$r]}" "${ref[3,$r]}" "${host[4,$r]}" "${ref[4,$r]}" \
    "${host[big,$r]}" "${host[step,$r]}" "${ref[step,$r]}" "${host[desk2,$r]}"
done
bench_stop_server
bench_stop_pid "$nginx_pid"
nginx_pid=

# Every step counted closed exactly its item, and handed it on once.
read -r closed handed < <(sqlite3 -batch "$db" "
SELECT (SELECT COUNT(*) FROM newwork WHERE id > $item_base AND id <= $item_base + $all_steps
        AND status = 1),
       (SELECT COUNT(*) FROM newwork WHERE id > $item_base + $all_steps AND userid = 'li'
        AND url = 'shenhe.asp');" | tr '|' ' ')

median() {  # KEY: the median over the rounds of host[KEY,r] or ref[KEY,r] ($2: host|ref)
  local -n arr=$2
  local r vals=()
  for r in $(seq 1 "$rounds"); do vals+=("${arr[$1,$r]}"); done
  printf '%s\n' "${vals[@]}" | sort -g | awk '{ v[NR] = $1 } END {
    printf "%.0f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
row() {  # PAGE HOST REF REFNAME TARGET
  local ratio verdict=""
  ratio=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')
  if [ -n "$5" ]; then
    verdict=$(awk -v q="$ratio" -v t="$5" 'BEGIN { print (q >= t) ? "pass" : "FAIL" }')
  fi
  printf '%-34s %10s %10s %-20s %6s %7s %5s\n' "$1" "$2" "$3" "$4" "$ratio" "${5:--}" "${verdict:--}"
}
echo
printf '%-34s %10s %10s %-20s %6s %7s %5s\n' "page (medians of $rounds rounds)" "host/s" "ref/s" \
  "reference" "ratio" "target" ""
for i in "${!pages[@]}"; do
  row "${names[$i]} /${pages[$i]} ($(stat -c %s "$ng/root/tarvo/${pages[$i]}") B)" \
    "$(median "$i" host)" "$(median "$i" ref)" "nginx, same bytes" "${targets[$i]}"
done
row "big desk /right.asp ($(stat -c %s "$ng/root/tarvo/bigdesk.asp") B)" "$(median big host)" \
  "$(median big ref)" "nginx, same bytes" ""
row "big desk beside the desk" "$(median big host)" "$(median 1 host)" "desk, this host" 0.8
row "approval step /hegao.asp" "$(median step host)" "$(median step ref)" "SQLite, same tx" 0.8
row "desk, 2 server threads (cores 0-1)" "$(median desk2 host)" "$(median 1 host)" \
  "desk, 1 thread" ""
echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) after the run"
echo "steps: $steps_done counted, $closed items closed, $handed handed on"
[ "$closed" -eq "$steps_done" ] && [ "$handed" -eq "$steps_done" ] ||
  { echo "bench: the steps counted do not match the database" >&2; exit 1; }
