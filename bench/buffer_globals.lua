-- buffer_globals.lua - speed of buffer globals as scripts see them, next to
-- yardsticks measured in the same run:
--   (a) "BufferToString" of 1 MiB against 64 KiB (it should grow linearly:
--       1 MiB within 20x of 64 KiB) and against copying a Lua string of the
--       same 2 MiB length with s:sub(1, -2) (one allocation and one memcpy;
--       target: within 8x);
--   (b) "GetInt32FrmMem" against a C function that does nothing, registered
--       the same way, from the bench-only module emptyfn (target: within
--       1.5x);
--   (c) "StringtoBuffer" of a 2 MiB all-digit text against the same
--       module's "StrtolPairs", a strtol call per pair (target: at least
--       50x faster).
--
-- Run through the host:  build/vodudid bench/buffer_globals.lua [EMPTYFN]
-- EMPTYFN is the module's path; by default bench/emptyfn.so beside the host.
-- Times are CPU times of this process (os.clock); each figure is the median
-- of several runs.

local KiB, MiB = 1024, 1024 * 1024
local RUNS = 9

local function host_dir()
  local i = -1
  while arg[i - 1] do i = i - 1 end
  return (arg[i] or "vodudid"):match("^(.*)/") or "."
end
local emptyfn = arg[1] or (host_dir() .. "/bench/emptyfn.so")
assert(package.loadlib(emptyfn, "bench_RegEmptyFn"))()

-- Median over RUNS of the time per call of f, each run doing `reps` calls.
local function per_call(f, reps)
  local times = {}
  for r = 1, RUNS do
    collectgarbage("collect")
    local t0 = os.clock()
    f(reps)
    times[r] = (os.clock() - t0) / reps
  end
  table.sort(times)
  return times[(RUNS + 1) / 2]
end

local function fmt_time(t)
  if t >= 1e-3 then return string.format("%8.3f ms", t * 1e3) end
  if t >= 1e-6 then return string.format("%8.3f us", t * 1e6) end
  return string.format("%8.2f ns", t * 1e9)
end

local function report(name, t) io.write(string.format("%-44s %s\n", name, fmt_time(t))) end

-- (a) hex text out --------------------------------------------------------
-- Lua 5.1 interns every string: a result equal to a string still alive costs
-- a full-length memcmp and no copy. Each call therefore gets fresh content
-- (a counter in the first word of the block, and a sliding window for the
-- string copy) so that every figure is one of making a new string. The
-- literal s:sub(1, -2) of one unchanged string, which hits the interned
-- copy, is shown as well.
local h = MallocBuffer(MiB)
for i = 0, MiB - 1, 4 do SetInt32FrmMem(h, i, (i * 2654435761) % 4294967296) end
local stamp = 0

local function to_string(n)
  return function(reps)
    for _ = 1, reps do
      stamp = stamp + 1
      SetInt32FrmMem(h, 0, stamp)
      local s = BufferToString(h, n)
    end
  end
end
local window = BufferToString(h, MiB) .. string.rep("y", 4096) -- 2 MiB + 4 KiB
local function sub_fresh(len)
  return function(reps)
    for i = 1, reps do
      local k = i % 4096 + 1
      local s = window:sub(k, k + len - 1)
    end
  end
end
local same = string.rep("x", 2 * MiB + 1)
local function sub_same(reps)
  for _ = 1, reps do local s = same:sub(1, -2) end
end

local t64k = per_call(to_string(64 * KiB), 400)
local t1m = per_call(to_string(MiB), 40)
local tsub = per_call(sub_fresh(2 * MiB), 40)
local tsub128k = per_call(sub_fresh(128 * KiB), 400)
local tsame = per_call(sub_same, 40)
report("BufferToString(h, 64 KiB)", t64k)
report("BufferToString(h, 1 MiB)", t1m)
report("2 MiB string copy, fresh content (s:sub)", tsub)
report("s:sub(1, -2), same 2 MiB + 1 string", tsame)
report("128 KiB string copy, fresh content (s:sub)", tsub128k)
io.write(string.format("  1 MiB / 64 KiB: %.2fx (linear is 16x; target <= 20x)\n", t1m / t64k))
io.write(string.format("  for scale, Lua's own copy of 2 MiB / 128 KiB: %.2fx\n", tsub / tsub128k))
io.write(string.format("  1 MiB / fresh 2 MiB copy: %.2fx (target <= 8x)\n", t1m / tsub))
io.write(string.format("  1 MiB / s:sub(1, -2) of one string: %.2fx\n", t1m / tsame))
io.write(string.format("  1 MiB call: %.2f GB/s of input\n", MiB / t1m / 1e9))
FreeBuffer(h)

-- (b) call cost -------------------------------------------------------------
local w = MallocBuffer(16)
SetInt32FrmMem(w, 0, 123456789)
local CALLS = 2000000
local function get32(reps)
  local f, p = GetInt32FrmMem, w
  for _ = 1, reps do f(p, 0) end
end
local function empty(reps)
  local f, p = EmptyFn, w
  for _ = 1, reps do f(p, 0) end
end
local tget = per_call(get32, CALLS)
local tempty = per_call(empty, CALLS)
report("GetInt32FrmMem(h, 0)", tget)
report("EmptyFn(h, 0)", tempty)
io.write(string.format("  GetInt32FrmMem / empty C function: %.2fx (target <= 1.5x)\n", tget / tempty))
FreeBuffer(w)

-- (c) hex text in ------------------------------------------------------------
-- One text, made once: neither global makes a string, so interning plays no
-- part. Decimal digits are hex digits, so the whole text takes the fast path.
local digits = {}
for i = 1, MiB do digits[i] = string.format("%02d", (i * 37) % 100) end
local text = table.concat(digits) -- 2 MiB
local dst = MallocBuffer(MiB)
local function to_buffer(f)
  return function(reps)
    for _ = 1, reps do f(dst, text) end
  end
end
local tin = per_call(to_buffer(StringtoBuffer), 40)
local tstrtol = per_call(to_buffer(StrtolPairs), 3)
report("StringtoBuffer(h, 2 MiB of digits)", tin)
report("StrtolPairs(h, 2 MiB of digits)", tstrtol)
io.write(string.format("  StrtolPairs / StringtoBuffer: %.1fx (target >= 50x)\n", tstrtol / tin))
io.write(string.format("  StringtoBuffer: %.2f GB/s of text\n", 2 * MiB / tin / 1e9))
FreeBuffer(dst)
