-- Runs a catalogue of script mistakes twice: with checked mode on the plain library, and unchecked on an
-- AddressSanitizer build of it, and prints the table docs/checked.md shows.
--   lua5.1 scripts/checked-vs-asan.lua build/libvodUdid.so build-asan/libvodUdid.so
-- Checked mode catches a mistake when the script stops with a Lua error that names the mistake's line;
-- the sanitizer build when it prints a report (AddressSanitizer or UndefinedBehaviorSanitizer).
local function realpath(p) return io.popen("realpath " .. assert(p, "two libraries")):read("*l") end
local plain, asan = realpath(arg[1]), realpath(arg[2])

-- Each mistake's last line is the mistake; what comes before sets it up. Every script starts with b (16
-- bytes), c (32 bytes, right after b), a stream f on a 64-byte file and a descriptor fd on it.
local PRE = [[b = MallocBuffer(16) c = MallocBuffer(32) Memset(b, 1, 16) Memset(c, 2, 32)
local w = io.open("data", "wb") w:write(("z"):rep(64)) w:close()
f = fopen("data", "rb") fd = LFopen("data", 0)
]]
local MISTAKES = {
  { "range outside its block", {
    "GetInt32FrmMem(b, 16)", "GetInt32FrmMem(b, 14)", "SetInt32FrmMem(b, -4, 1)", "GetInt16FrmMem(b, 15)",
    "SetIntBitsFrmMem(c, 28, 0, 8, 238)", "GetIntBitsFrmMem(b, 14, 0, 8)", "GetInt32FrmMem(b, 48)",
    "SetInt8FrmMem(b, -1, 1)", "GetInt8FrmMem(GetBuffer(b, 8), -1)", "GetMemValue(b, 2147483647, 2)",
    "Memcpy(b, c, 32)", "Memcpy(c, b, 32)", "Memset(b, 0, 17)", "Memcmp(b, c, 32)", "BufferToString(b, 20)",
    'StringtoBuffer(b, ("ab"):rep(17))', 'CharsToBuffer(b, ("x"):rep(20))', "BufferToChars(b, 10, 10)",
    "calc_crc32(b, 64)", "add_sum(b, 100, 0)", "fread(f, b, 64)", "LFread(fd, b, 64)", "TraceBuffer(b, 100)",
    'SetMemValue(b, 15, "aabbcc")', "Memset(GetBuffer(b, 4096), 0, 4)", "SetByteBitsFrmMem(b, 16, 0, 4, 1)" } },
  { "use after free, double free", {
    "FreeBuffer(b) GetInt32FrmMem(b, 0)", "FreeBuffer(b) Memset(b, 0, 16)", "FreeBuffer(b) FreeBuffer(b)",
    "FreeBuffer(b) for _ = 1, 5000 do FreeBuffer(MallocBuffer(16)) end SetInt32FrmMem(b, 0, 1)",
    "FreeBuffer(b) FreeBuffer(MallocBuffer(2 ^ 28 + 2 ^ 20)) SetInt32FrmMem(b, 0, 1)",
    "local s for i = 1, 100 do local t = MallocBuffer(64) if s then SetInt32FrmMem(s, 0, i) end s = t FreeBuffer(t) end",
    "FreeBuffer(b) local n = MallocBuffer(16) FreeBuffer(b)", "FreeBuffer(GetBuffer(b, 4))",
    "FreeBuffer(GetBuffer(nil, 4096))", "FreeBuffer(c) BufferToString(GetBuffer(b, 40), 4)" } },
  { "streams and descriptors", {
    "fclose(f) fgetALine(f)", "fclose(f) fclose(f)", "fread(b, b, 4)", "fread(f, f, 64)", "fgetALine(io.stdin)",
    "Memset(io.stdout, 0, 8)", 'fclose(f) local g = fopen("data", "rb") fgetALine(f)', "LFclose(fd) LFread(fd, b, 4)",
    "LFread(nil, b, 4)", "fclose(GetBuffer(b, 0))" } },
  { "not a handle", {
    "Memset(tostring(b), 0, 4)", "GetInt32FrmMem(12345, 0)", 'Memcpy(b, "abcd", 4)', "calc_crc32({}, 4)",
    "SetInt8FrmMem(GetBuffer(MallocBuffer(-100), 64), 0, 1)", "SetInt32FrmMem(GetBuffer(nil, 268435456), 0, 1)",
    "GetInt32FrmMem(GetBuffer(nil, 1), 0)" } },
  { "shell characters", { 'CopyFile("data", "my copy")', 'CopyFile("data", "x;echo hi")' } },
}
local VALID = { "GetInt32FrmMem(b, 12)", "Memcpy(b, b, 0)", "BufferToString(GetBuffer(b, 16), 0)",
  "FreeBuffer(MallocBuffer(0))", "GetBuffer(b, 1000)", "fclose(f) f = fopen('data', 'rb') fgetALine(f)" }

local function sh(cmd)
  local p = io.popen("( " .. cmd .. " ) 2>&1; echo \"rc=$?\"")
  local out = p:read("*a")
  p:close()
  return out, tonumber(out:match("rc=(%d+)%s*$"))
end

local asanRuntime = io.popen("g++ -print-file-name=libasan.so"):read("*l")
local dir = io.popen("mktemp -d"):read("*l")
local function run(code, checked)
  local path = dir .. "/t.lua"
  local fh = assert(io.open(path, "w")) fh:write(PRE, code, "\n") fh:close()
  local env = checked and "VODUDID_CHECKED=1 " or ("LD_PRELOAD=%s ASAN_OPTIONS=detect_leaks=0 "):format(asanRuntime)
  local lib = checked and plain or asan
  return sh(("cd %s && %s timeout 60 lua5.1 -e 'package.loadlib(\"%s\", \"l_RegAllFun\")()' t.lua </dev/null")
    :format(dir, env, lib))
end

local line = select(2, PRE:gsub("\n", "")) + 1 -- the mistake's line
local totals = { 0, 0, 0, 0 }
print("| mistakes | how many | checked mode refuses | AddressSanitizer reports |")
print("|---|---|---|---|")
for _, class in ipairs(MISTAKES) do
  local n, ck, as = 0, 0, 0
  for _, code in ipairs(class[2]) do
    n = n + 1
    local out, rc = run(code, true)
    local refused = rc == 1 and out:find("t.lua:" .. line .. ": ", 1, true) ~= nil
    ck = ck + (refused and 1 or 0)
    local aout = run(code, false)
    local reported = aout:find("AddressSanitizer", 1, true) or aout:find("runtime error:", 1, true)
    as = as + (reported and 1 or 0)
    io.stderr:write(("%-4s %-4s %s\n"):format(refused and "ck" or "-", reported and "asan" or "-", code))
  end
  totals[1], totals[2], totals[3] = totals[1] + n, totals[2] + ck, totals[3] + as
  print(("| %s | %d | %d | %d |"):format(class[1], n, ck, as))
end
print(("| **all mistakes** | **%d** | **%d** | **%d** |"):format(totals[1], totals[2], totals[3]))
local ok = 0
for _, code in ipairs(VALID) do
  local _, rc = run(code, true)
  ok = ok + (rc == 0 and 1 or 0)
end
print(("| valid edge calls, run unchanged | %d | %d | |"):format(#VALID, ok))
os.execute("rm -rf " .. dir)
