#!/usr/bin/env bash
# Throughput of one approval step: draft-verification steps ("hegao.asp") per
# second under load, next to the static-file figure measured in the same run
# with the same wrk settings, on loopback against a Release build.
#   bash bench/run_step_bench.sh
# BENCH_THREADS and BENCH_SECONDS set the load (defaults 2 and 10; one
# connection per thread); BENCH_ITEMS the number of open items prepared (default 100000);
# BENCH_SERVER_THREADS the server's thread count.
#
# Every request is a real step on its own open item of "zhang"; afterwards the
# database must show exactly one closed item and one new review item per step
# counted, or the run fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

threads=${BENCH_THREADS:-2}
connections=${BENCH_CONNECTIONS:-$threads}
seconds=${BENCH_SECONDS:-10}
items=${BENCH_ITEMS:-100000}
for v in "$threads" "$connections" "$seconds" "$items"; do
  [[ $v =~ ^[1-9][0-9]*$ ]] ||
    { echo "bench: settings must be positive whole numbers" >&2; exit 2; }
done
# hegao_step.lua needs one connection per wrk thread.
[ "$connections" -eq "$threads" ] || { echo "bench: connections must equal threads" >&2; exit 2; }

source bench/lib.sh
bench_install sqlite3 curl
bench_build
bench_workdir

app=$work/app
db=$app/data/office.db
"$deskhost" init "$app" --demo --password-cost min --admin-password "bench-$$-$RANDOM" >/dev/null

# Runs SQL on the benchmark database: one output row a line, fields separated
# by spaces. Bound values: :f (first document id - 1), :w (first item id - 1)
# and :n (item count).
sql() {
  sqlite3 -batch -bail -list -separator ' ' "$db" \
    ".parameter set :f ${flow_base:-0}" \
    ".parameter set :w ${item_base:-0}" \
    ".parameter set :n $items" \
    "$1"
}

# Documents f+1..f+n, each with one open draft-verification item w+k of
# zhang, written in one transaction before the server starts.
start_prep=$(date +%s.%N)
read -r flow_base item_base < <(bench_prepare_steps "$db" zhang "$items" '+0 days')
[ -n "$item_base" ] || { echo "bench: preparing the items failed" >&2; exit 1; }
prep_seconds=$(awk -v a="$start_prep" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')

serve_extra=()
[ -n "${BENCH_SERVER_THREADS:-}" ] && serve_extra+=(--threads "$BENCH_SERVER_THREADS")
bench_start_server tarvo "$app" "${serve_extra[@]}"
cookie=$(bench_login zhang zhang123)

echo "wrk -t$threads -c$connections, ${seconds}s each, against 127.0.0.1:$port ($(nproc) cores);" \
  "$items open items prepared in ${prep_seconds}s"

# The static reference, with the same load.
static_out=$(wrk --latency -t"$threads" -c"$connections" -d"${seconds}s" "$base/default.htm")
if grep -q 'Non-2xx or 3xx responses' <<<"$static_out"; then
  echo "bench: default.htm answered with errors:" >&2
  echo "$static_out" >&2
  exit 1
fi
static_rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$static_out")
# wrk's latency percentiles: the median and the 99th. (Its mean is not used:
# it does not agree with the request rate and the connection count.)
percentile() { awk -v p="$1" '$1 == p {print $2}' <<<"$2"; }
static_p50=$(percentile 50% "$static_out") static_p99=$(percentile 99% "$static_out")

# The steps. Each wrk thread stops itself once its steps are answered; wrk's
# own duration only bounds the run.
marker=$(printf '公文已发送' | iconv -f UTF-8 -t GB18030)
step_out=$(wrk --latency -t"$threads" -c"$connections" -d"$((seconds + 3))s" -H "Cookie: $cookie" \
  -s bench/hegao_step.lua "$base/hegao.asp" -- \
  "$flow_base" "$item_base" "$items" "$threads" "$seconds" "$marker")
bench_stop_server
[ -n "${BENCH_SHOW_WRK:-}" ] && echo "$step_out"

steps_line=$(grep '^steps:' <<<"$step_out") || {
  echo "bench: the step script reported nothing:" >&2
  echo "$step_out" >&2
  exit 1
}
field() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" <<<" ${steps_line#steps:}"; }
ok=$(field ok) refused=$(field refused) other=$(field other)
unanswered=$(field unanswered) exhausted=$(field exhausted) step_seconds=$(field seconds)
non2xx=$(awk '/Non-2xx or 3xx responses:/ {print $NF}' <<<"$step_out")
non2xx=${non2xx:-0}
step_p50=$(percentile 50% "$step_out") step_p99=$(percentile 99% "$step_out")
step_rate=$(awk -v n="$ok" -v s="$step_seconds" 'BEGIN { printf "%.2f", (s > 0) ? n / s : 0 }')
share=$(awk -v a="$step_rate" -v b="$static_rps" 'BEGIN { printf "%.1f%%", 100 * a / b }')

printf '\n%-26s %12s %10s %10s %10s\n' "measure" "per second" "median" "99%" "of static"
printf '%-26s %12s %10s %10s %10s\n' "static file /default.htm" "$static_rps" "$static_p50" \
  "$static_p99" "100%"
printf '%-26s %12s %10s %10s %10s\n' "approval step /hegao.asp" "$step_rate" "$step_p50" \
  "$step_p99" "$share"
echo
echo "steps: $ok done, $refused refused (409), $other other answers, $unanswered unanswered," \
  "in ${step_seconds}s; non-2xx answers: $non2xx"

# The database after the run: one closed item per step counted, and one new
# review item (and one history row) per closed item, none for an open one.
read -r closed reviews wrong history marked < <(sql "
WITH prepared AS (
  SELECT id, baseid, status FROM newwork WHERE id > :w AND id <= :w + :n),
reviews AS (
  SELECT baseid, COUNT(*) AS c FROM newwork
  WHERE id > :w + :n AND typed = '审核' AND url = 'shenhe.asp' AND userid = 'li'
  GROUP BY baseid)
SELECT
  (SELECT COUNT(*) FROM prepared WHERE status = 1),
  (SELECT IFNULL(SUM(c), 0) FROM reviews),
  (SELECT COUNT(*) FROM prepared p LEFT JOIN reviews r ON r.baseid = p.baseid
   WHERE IFNULL(r.c, 0) <> (p.status = 1)),
  (SELECT COUNT(*) FROM workflow WHERE flowid > :f AND flowid <= :f + :n),
  (SELECT COUNT(*) FROM fawen WHERE id > :f AND id <= :f + :n AND hegaoname <> '');")

echo "check: $closed items closed for $ok steps counted; $reviews new review items;" \
  "$wrong documents without exactly one review item per closed item; $history history rows;" \
  "$marked documents signed by the verifier"
status=0
if [ "$closed" -eq "$ok" ] && [ "$reviews" -eq "$ok" ] && [ "$wrong" -eq 0 ] &&
   [ "$history" -eq "$ok" ] && [ "$marked" -eq "$ok" ]; then
  echo "check: OK, one step per successful request, no double steps"
else
  echo "check: MISMATCH between the answers and the database" >&2
  status=1
fi
if [ "$exhausted" -gt 0 ]; then
  echo "bench: $exhausted thread(s) ran out of items before ${seconds}s; raise BENCH_ITEMS" >&2
  status=1
fi
if [ "$unanswered" -gt 0 ] || [ "$other" -gt 0 ]; then
  echo "bench: some steps were not answered as a step or a refusal:" >&2
  echo "$step_out" >&2
  status=1
fi
exit "$status"
