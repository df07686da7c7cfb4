-- files_bench.lua - speed of the file globals next to their yardsticks:
--   * "fgetALine" against Lua's own io.lines over the same 100 MiB text file
--     (lines of 5 to 80 characters), in the same run;
--   * "fread" and "LFread" of 64 KiB blocks against plain C loops doing the
--     same reads from the page cache (the BM_C* lines of files_bench).
--
-- Run through the host:  build/vodudid bench/files_bench.lua [FILES_BENCH]
-- FILES_BENCH is the Google Benchmark program holding the C loops; by default
-- bench/files_bench beside the host. The text file is made in /tmp for the
-- run and removed afterwards. Times are CPU times of this process (os.clock).

local MiB = 1024 * 1024
local SIZE = 100 * MiB
local BLOCK = 65536

-- The host is the first word of the command line: arg[-n] for the lowest n.
local function host_dir()
  local i = -1
  while arg[i - 1] do i = i - 1 end
  return (arg[i] or "vodudid"):match("^(.*)/") or "."
end
local baseline = arg[1] or (host_dir() .. "/bench/files_bench")

-- Lines of 5 to 80 random lower-case letters, SIZE bytes in all.
local function make_text(path)
  math.randomseed(12345)
  local pool = {}
  for i = 1, 4096 do pool[i] = string.char(97 + math.random(0, 25)) end
  pool = table.concat(pool)
  local f = assert(io.open(path, "wb"))
  local written, lines = 0, 0
  while written < SIZE do
    local chunk = {}
    for i = 1, 10000 do
      local len = math.random(5, 80)
      local at = math.random(1, #pool - len)
      chunk[i] = pool:sub(at, at + len - 1)
    end
    chunk[#chunk + 1] = ""
    local s = table.concat(chunk, "\n")
    f:write(s)
    written = written + #s
    lines = lines + 10000
  end
  f:close()
  return written, lines
end

local function timed(fn)
  local t = os.clock()
  local r = fn()
  return os.clock() - t, r
end

local function lines_fgetALine(path)
  local h = fopen(path, "rb")
  local n, line = 0, fgetALine(h)
  while line do
    n = n + 1
    line = fgetALine(h)
  end
  fclose(h)
  return n
end

local function lines_io(path)
  local n = 0
  for _ in io.lines(path) do n = n + 1 end
  return n
end

local function blocks_fread(path)
  local b, h, total = MallocBuffer(BLOCK), fopen(path, "rb"), 0
  while true do
    local n = fread(h, b, BLOCK)
    if n == 0 then break end
    total = total + n
  end
  fclose(h)
  FreeBuffer(b)
  return total
end

local function blocks_LFread(path)
  local b, fd, calls = MallocBuffer(BLOCK), LFopen(path, 0), 0
  while LFread(fd, b, BLOCK) do calls = calls + 1 end
  LFclose(fd)
  FreeBuffer(b)
  return calls
end

-- bytes_per_second of the named benchmarks, from the baseline's JSON output.
local function c_baseline(path, names)
  local p = io.popen(string.format("VODUDID_BENCH_FILE='%s' '%s' --benchmark_format=json " ..
    "--benchmark_filter='^BM_C' --benchmark_min_time=1 2>/dev/null", path, baseline))
  local json = p:read("*a")
  p:close()
  local rates = {}
  for _, name in ipairs(names) do
    local at = json:find('"name": "' .. name .. '"', 1, true)
    local rate = at and json:match('"bytes_per_second": ([%d%.eE+-]+)', at)
    rates[name] = tonumber(rate)
  end
  return rates
end

local function run(path)
  io.write(string.format("making %d MiB of text lines in %s\n", SIZE / MiB, path))
  local size, nlines = make_text(path)
  lines_io(path) -- into the page cache

  -- Lines: alternate the two readers, keep the best of each.
  local best_g, best_io = math.huge, math.huge
  for _ = 1, 3 do
    local tg, ng = timed(function() return lines_fgetALine(path) end)
    local ti, ni = timed(function() return lines_io(path) end)
    assert(ng == nlines and ni == nlines, "line counts differ")
    best_g, best_io = math.min(best_g, tg), math.min(best_io, ti)
  end
  io.write(string.format("fgetALine  %8.1f ms  (%d lines)\n", best_g * 1000, nlines))
  io.write(string.format("io.lines   %8.1f ms\n", best_io * 1000))
  io.write(string.format("fgetALine / io.lines = %.2f  (target: at most 1.5)\n\n", best_g / best_io))

  -- Blocks: mean over many passes, as Google Benchmark reports its mean.
  local passes = 40
  local t_fread, t_LFread = 0, 0
  for _ = 1, passes do
    local t, n = timed(function() return blocks_fread(path) end)
    assert(n == size, "fread did not read the whole file")
    t_fread = t_fread + t
    t, n = timed(function() return blocks_LFread(path) end)
    assert(n == math.ceil(size / BLOCK), "LFread did not read the whole file")
    t_LFread = t_LFread + t
  end
  local r_fread = size * passes / t_fread
  local r_LFread = size * passes / t_LFread
  io.write(string.format("fread  64 KiB  %8.0f MiB/s\n", r_fread / MiB))
  io.write(string.format("LFread 64 KiB  %8.0f MiB/s\n", r_LFread / MiB))

  local c = c_baseline(path, { "BM_CFread64K", "BM_CRead64K" })
  if c.BM_CFread64K and c.BM_CRead64K then
    io.write(string.format("C fread loop   %8.0f MiB/s\n", c.BM_CFread64K / MiB))
    io.write(string.format("C read loop    %8.0f MiB/s\n", c.BM_CRead64K / MiB))
    io.write(string.format("fread / C fread = %.2f, LFread / C read = %.2f  (target: at least 0.80)\n",
      r_fread / c.BM_CFread64K, r_LFread / c.BM_CRead64K))
  else
    io.write("C baseline not found at " .. baseline .. " (pass its path as the first argument)\n")
  end
end

local path = os.tmpname()
local ok, err = pcall(run, path)
os.remove(path)
if not ok then error(err, 0) end
