-- wrk script: one draft-verification step ("hegao.asp") per request, each on
-- its own open item, so that every request is a real step and not a refusal.
--
--   wrk -t T -c C -d (SECONDS + margin) -H "Cookie: DESKSID=..." -s hegao_step.lua \
--       URL/hegao.asp -- FLOW_BASE ITEM_BASE ITEMS T SECONDS DONE_MARKER
--
-- Item k (1..ITEMS) is newwork row ITEM_BASE + k, an open item of the
-- logged-in user on document FLOW_BASE + k. Thread t of T takes the k of its
-- own slice, in order, so no item is posted twice. A thread sends new steps
-- for SECONDS from its first request (or until its slice runs out), then
-- waits for the answers still outstanding and stops itself: every step sent
-- is answered and counted, and the count can be checked against the database.
-- wrk's own duration is only the outer bound.
--
-- A step is posted with a once-only form token, as the page's form does. The
-- tokens come from the step page itself: when a thread has none left it
-- first GETs the page of its next item, which hands out six (its two forms'
-- and four for uploads), so about one request in seven is such a page. Each
-- thread must have exactly one connection (-c equal to -t): its answers then
-- come back in the order of its requests.
--
-- An answer counts as a step when it is 200 and carries DONE_MARKER (the done
-- message, in the page's encoding); 409 is a refused step; anything else is
-- "other" (a page that hands out no token too). done() prints one line:
--   steps: ok=N refused=N other=N unanswered=N exhausted=N seconds=S pages=N

local ffi = require("ffi")
ffi.cdef [[
struct mono_time { long tv_sec; long tv_nsec; };
int clock_gettime(int clock, struct mono_time* ts);
]]
local CLOCK_MONOTONIC = 1
local ts = ffi.new("struct mono_time")

-- Seconds on the monotonic clock, shared by all threads.
local function now()
  ffi.C.clock_gettime(CLOCK_MONOTONIC, ts)
  return tonumber(ts.tv_sec) + tonumber(ts.tv_nsec) * 1e-9
end

wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"

-- ---- Main state: hands out thread numbers, sums up at the end ------------

local threads = {}

function setup(thread)
  thread:set("tid", #threads)
  table.insert(threads, thread)
end

function done(summary, latency, requests)
  local ok, refused, other, unanswered, exhausted, pages = 0, 0, 0, 0, 0, 0
  local first, last = nil, nil
  for _, t in ipairs(threads) do
    ok = ok + t:get("ok")
    refused = refused + t:get("refused")
    other = other + t:get("other")
    pages = pages + t:get("pages")
    unanswered = unanswered + (t:get("issued") - t:get("answered"))
    if t:get("exhausted") then exhausted = exhausted + 1 end
    local s, e = t:get("started"), t:get("finished")
    if s and (not first or s < first) then first = s end
    if e and (not last or e > last) then last = e end
  end
  local seconds = (first and last) and (last - first) or 0
  io.write(string.format(
      "steps: ok=%d refused=%d other=%d unanswered=%d exhausted=%d seconds=%.3f pages=%d\n",
      ok, refused, other, unanswered, exhausted, seconds, pages))
end

-- ---- Thread states --------------------------------------------------------

local flow_base, item_base, next_k, last_k, seconds, marker
local verifying = false  -- wrk builds one request on thread 0 to check it, and never sends it
local draining = false
issued, answered, ok, refused, other, pages = 0, 0, 0, 0, 0, 0
local tokens = {}          -- once-only form tokens not used yet
local fetching = false     -- the request outstanding is a page for tokens
exhausted = false
started, finished = nil, nil

function init(args)
  flow_base = tonumber(args[1])
  item_base = tonumber(args[2])
  local items, nthreads = tonumber(args[3]), tonumber(args[4])
  seconds = tonumber(args[5])
  marker = args[6]
  assert(flow_base and item_base and items and nthreads and seconds and marker,
         "args: FLOW_BASE ITEM_BASE ITEMS THREADS SECONDS DONE_MARKER")
  local slice = math.floor(items / nthreads)
  next_k = tid * slice + 1
  last_k = (tid + 1) * slice
  verifying = (tid == 0)
end

local function item(k)
  return "flowid=" .. (flow_base + k) .. "&nwid=" .. (item_base + k)
end

local function form(k, token)
  return item(k) .. "&name_hg=ok&hiddenselect=li&typed=2&formtoken=" .. token
end

-- Stops the thread once it sends no more and every step sent was answered.
local function stop_when_drained()
  if draining and answered >= issued then
    finished = finished or now()
    wrk.thread:stop()
  end
end

function request()
  if verifying then
    verifying = false
    return wrk.format(nil, nil, nil, form(next_k, "0"))
  end
  if not draining then
    local t = now()
    started = started or t
    if next_k > last_k then
      exhausted = true
      draining = true
    elseif t - started >= seconds then
      draining = true
    end
  end
  if draining then
    stop_when_drained()
    return ""  -- wrk sends nothing and the connection stays idle
  end
  issued = issued + 1
  if #tokens == 0 then
    fetching = true
    local headers = {}  -- the Cookie and Host of every request, no form body
    for name, value in pairs(wrk.headers) do
      if name ~= "Content-Type" and name ~= "Content-Length" then headers[name] = value end
    end
    return wrk.format("GET", wrk.path .. "?" .. item(next_k), headers, "")
  end
  local k = next_k
  next_k = k + 1
  return wrk.format(nil, nil, nil, form(k, table.remove(tokens)))
end

function response(status, headers, body)
  answered = answered + 1
  finished = now()
  if fetching then
    fetching = false
    pages = pages + 1
    local list = body and body:match("formtokens=%[(.-)%]") or ""
    for t in list:gmatch("'(%x+)'") do table.insert(tokens, t) end
    for t in (body or ""):gmatch("name='formtoken' value='(%x+)'") do table.insert(tokens, t) end
    if status ~= 200 or #tokens == 0 then other = other + 1 end
  elseif status == 200 and body and string.find(body, marker, 1, true) then
    ok = ok + 1
  elseif status == 409 then
    refused = refused + 1
  else
    other = other + 1
  end
  stop_when_drained()
end
