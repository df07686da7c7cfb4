-- Checked mode (VODUDID_CHECKED=1): every kind of mistake refused at the script's line with its message and
-- memory untouched, grouped by class; one registry per state; the reports at close, at os.exit and in __gc.
local support = require("support")

local CHECKED = "VODUDID_CHECKED=1 ASAN_OPTIONS=detect_leaks=0 " -- the leak report's blocks stay allocated

-- The message texts, put together from their parts: a row { call, offset, length, k } is a range refused by
-- the global the call names, k 1 and 2 outside the live blocks b and c, 3 in the freed f; a role ("source ")
-- may stand before the offset. {h} and {old} stand for those handles as %p prints them.
local function block(size, at, freed)
  return ("the %d-byte block allocated at %s < main:1"):format(size, at) .. (freed and " and freed at " .. freed or "")
end
local BLOCKS = { "outside " .. block(16, "setup:1"), "outside " .. block(32, "setup:2"),
  "in " .. block(16, "setup:3", "setup:4") }
local function message(row)
  if type(row[2]) == "string" then return row[2] end
  local global, role = row[1]:match("^[%w_]+"), row[5] and row[5] .. " " or ""
  return ("%s: %soffset %.0f, length %d %s"):format(global, role, row[2], row[3], BLOCKS[row[4]])
end

-- setup: old, freed before 17,000 other blocks came and went (its sites have left the history, and its
-- address was never handed out again), and b (16 bytes, line 1), c (32, line 2), f (16, line 3, freed on
-- line 4), a stream s opened and closed (5-6) and another opened after it (7), an open h, a descriptor d
-- opened and closed (8-9) beside an open fd, a block allocated in a coroutine (11) and freed (12).
local SETUP = [[old = MallocBuffer(16) FreeBuffer(old) for _ = 1, 17000 do local t = MallocBuffer(16) assert(t ~= old) FreeBuffer(t) end b = MallocBuffer(16) CharsToBuffer(b, "0123456789abcdef")
c = MallocBuffer(20) CharsToBuffer(c, ("C"):rep(32))
f = MallocBuffer(16)
FreeBuffer(f)
s, h = fopen("x", "w"), fopen("x", "r+")
fclose(s)
s2 = fopen("x", "r")
d, fd = LFopen("x", 1), LFopen("x", 1)
LFclose(d)
-- (nothing opens a descriptor after a close: the system may hand the same number out again)
co = coroutine.wrap(function() local k = MallocBuffer(16) coroutine.yield(k) end)()
FreeBuffer(co)]]

-- The script runs as chunk "main" in a coroutine of its own, so that the call chains of its sites end there.
local MAIN = "coroutine.wrap(assert(loadstring(%q, '=main')))()"

local rows = {
  -- provenance: every byte must lie in the block of the handle, whatever the offset or its rule
  { "SetIntBitsFrmMem(c, 28, 0, 8, 238)", 112, 4, 2 }, { "GetIntBitsFrmMem(b, 14, 0, 8)", 56, 4, 1 },
  { "GetInt32FrmMem(b, 48)", 48, 4, 1 }, { "GetInt32FrmMem(b, 13.9)", 13, 4, 1 },
  { "SetInt8FrmMem(b, -1, 1)", 4294967295, 1, 1 }, { "GetInt8FrmMem(GetBuffer(b, 8), -1)", 4294967303, 1, 1 },
  { "GetMemValue(b, 2147483647, 2)", 2147483647, 1, 1 }, { "GetMemValue(b, 15, 2)", 15, 2, 1 },
  { "Memcpy(c, b, 17)", 0, 17, 1, "source" }, { "Memcpy(b, c, 17)", 0, 17, 1, "destination" },
  { "Memcmp(c, b, 20)", 0, 20, 1, "second" }, { "Memset(GetBuffer(b, -1), 0, 2)", -1, 2, 1 },
  { "BufferToString(b, 17)", 0, 17, 1 }, { 'StringtoBuffer(b, ("ab"):rep(16) .. "c")', 0, 17, 1 },
  { 'SetMemValue(c, 31, "aabb")', 31, 2, 2 }, { "BufferToChars(b, 8, 9)", 8, 9, 1 },
  { 'CharsToBuffer(b, ("x"):rep(17))', 0, 17, 1 }, { "GetInt16FrmMem(b, 15)", 15, 2, 1 },
  { "SetInt16FrmMem(b, -2, 1)", -2, 2, 1 }, { "GetByteBitsFrmMem(b, 16, 0, 1)", 16, 1, 1 },
  { "SetByteBitsFrmMem(b, -1, 0, 1, 1)", -1, 1, 1 }, { "calc_crc32(b, 17)", 0, 17, 1 },
  { "TraceBuffer(b, 600)", 0, 512, 1 }, { "fwrite(h, b, 17)", 0, 17, 1 }, { "fread(h, GetBuffer(c, 16), 17)", 16, 17, 2 },
  { "LFwrite(fd, b, 17)", 0, 17, 1 }, { "LFread(fd, c, 33)", 0, 33, 2 },
  { "SetInt8FrmMem(GetBuffer(nil, 4096), 0, 1)",
    "SetInt8FrmMem: offset 0, length 1 from 0x1000 lies in the first 64 KiB of the address space" },
  { "GetInt32FrmMem(GetBuffer(MallocBuffer(-100), 1048576), 0)",
    "GetInt32FrmMem: offset 0, length 4 from 0x100000 is not mapped for reading" },
  { "Memset(GetBuffer(b, -16777216), 0, 16777232)",
    "Memset: offset 0, length 16777232 from {b-16M} reaches into checked mode's blocks from outside them" },
  { "Memset(tostring(b), 0, 4)", "Memset: argument 1 is a string, not a handle" },
  { "Memset(io.stdout, 0, 4)", "Memset: argument 1 is a userdata, not a handle" },
  { "Memcmp(b, 12345, 1)", "Memcmp: argument 2 is a number, not a handle" },
  -- reuse: a freed block stays known, with its sites while the history holds them
  { "SetInt32FrmMem(f, 0, 1)", 0, 4, 3 }, { "add_sum(f, 4, 0)", 0, 4, 3 }, { "Memcmp(c, f, 4)", 0, 4, 3, "second" },
  { "FreeBuffer(f)", "FreeBuffer: double free of " .. block(16, "setup:3", "setup:4") },
  { "GetInt32FrmMem(old, 0)", "GetInt32FrmMem: handle {old} lies in a freed block" },
  { "FreeBuffer(old)", "FreeBuffer: {old} lies in a freed block" },
  { "FreeBuffer(GetBuffer(b, 4))", "FreeBuffer: offset 4 of " .. block(16, "setup:1") .. " is not a block's start" },
  { "FreeBuffer(GetBuffer(nil, 4096))", "FreeBuffer: 0x1000 is not a block of MallocBuffer" },
  { "coroutine.wrap(function() GetInt8FrmMem(co, 0) end)()", -- wrap adds a place
    "row:1: GetInt8FrmMem: offset 0, length 1 in " .. (block(16, "setup:11", "setup:12"):gsub(" < main:1 and", " and")) },
  -- streams: a stream handle is the registry's, never taken for a later stream at the same address
  { "fclose(GetBuffer(b, 3))", "fclose: offset 3 of " .. block(16, "setup:1") .. " is a buffer, not a stream" },
  { "fgetALine(f)", "fgetALine: offset 0 of " .. block(16, "setup:3", "setup:4") .. " is a buffer, not a stream" },
  { "fseek(s, 0, 0)", "fseek: the stream opened at setup:5 < main:1 was closed at setup:6" },
  { "fclose(s)", "fclose: the stream opened at setup:5 < main:1 was closed at setup:6" },
  { "fread(h, h, 64)", "fread: handle {h} is the stream opened at setup:5 < main:1, not a buffer" },
  { "fgetALine(io.stdin)", "fgetALine: argument 1 is a userdata, not a stream" },
  { "fgetALine(GetBuffer(s2, 1))", "fgetALine: offset 1 of the stream opened at setup:7 < main:1 is not a stream handle" },
  { "LFread(d, b, 1)", "LFread: descriptor {d} opened at setup:8 was closed at setup:9" },
  { "LFclose(d)", "LFclose: descriptor {d} opened at setup:8 was closed at setup:9" },
  { "LFseek()", "LFseek: the descriptor argument is no value, not a number" },
  { 'LFwrite("x", b, 1)', "LFwrite: the descriptor argument is string, not a number" },
}
if os.getenv("VODUDID_SHELL_COPY") ~= "0" then -- where cp runs without a shell, nothing acts on these
  rows[#rows + 1] = { 'CopyFile("x", "a b")', 'CopyFile: path "a b" holds a blank, which the shell would act on' }
  rows[#rows + 1] = { 'CopyFile("x;touch y", "z")',
    'CopyFile: path "x;touch y" holds a semicolon, which the shell would act on' }
end

describe("checked mode", function()
  it("refuses each mistake at the script's line with its message, touching nothing", function()
    local dir = support.tmpdir()
    local code = { "assert(loadstring(" .. ("%q"):format(SETUP):gsub("\\\n", "\\n") .. ', "=setup"))()',
      'print(d, tostring(old):match("0x%x+"), tostring(h):match("0x%x+"), tostring(GetBuffer(b, -16777216)):match("0x%x+"))' }
    for _, row in ipairs(rows) do
      -- Each row is line 1 of its own chunk "row"; memory is compared around the call.
      code[#code + 1] = ([[do local before = BufferToString(b, 16) .. BufferToString(c, 32)
        local ok, msg = pcall(assert(loadstring(%q, "=row")))
        print(tostring(ok) .. " " .. tostring(msg) .. " " .. tostring(before == BufferToString(b, 16) .. BufferToString(c, 32)))
      end]]):format(row[1])
    end
    code[#code + 1] = 'fclose(h) LFclose(fd) print(fgetALine(s2), io.open("x"):read("*a") == "", io.open("z") == nil)'
    local out, err, rc = support.run(MAIN:format(table.concat(code, "\n")), { cd = dir, prefix = CHECKED })
    support.rmtree(dir)
    local lines = {}
    for line in out:gmatch("([^\n]*)\n") do lines[#lines + 1] = line end
    local d, old, h, b16 = lines[1]:match("^(%d+)\t(%S+)\t(%S+)\t(%S+)$")
    for i, row in ipairs(rows) do
      local want = message(row):gsub("{(%w+)[^}]*}", { d = d, old = old, h = h, b = b16 })
      assert.are.equal("false row:1: " .. want .. " true", lines[i + 1], row[1])
    end
    assert.are.same({ "nil\ttrue\ttrue", #rows + 2 }, { lines[#rows + 2], #lines })
    -- Blocks still allocated at close, in allocation order, with their callers; the blocks are left alone.
    assert.are.same({ "vodUdid checked: 16-byte block allocated at setup:1 < main:1 never freed\n"
      .. "vodUdid checked: 32-byte block allocated at setup:2 < main:1 never freed\n", 0 }, { err, rc })
  end)

  it("reports leaks at os.exit and a mistake in a finalizer at close; sites name a helper's callers", function()
    local code = [[local function new() local k = MallocBuffer(16) return k end -- no tail call: LuaJIT drops its frame
      a = new()
      b = new()
      p = newproxy(true) getmetatable(p).__gc = function(self) FreeBuffer(b) FreeBuffer(b) end
      if os.getenv("EXIT") then os.exit(3) end]]
    local function leak(line) return ("vodUdid checked: 16-byte block allocated at main:1 < main:%d never freed\n"):format(line) end
    local double = "vodUdid checked: main:4: FreeBuffer: double free of the 16-byte block allocated at main:1 < main:3"
      .. " and freed at main:4\n"
    for _, case in ipairs({ { "", double .. leak(2), 0 }, { "EXIT=1 ", leak(2) .. leak(3), 3 } }) do
      local _, err, rc = support.run(MAIN:format(code), { prefix = CHECKED .. case[1] })
      assert.are.same({ case[2], case[3] }, { err, rc }, case[1])
    end
  end)

  it("keeps one registry per state, whichever copy registers, and refuses a foreign layout", function()
    local require = ("package.cpath = %q .. '/?.so' require('vodUdid')"):format(os.getenv("VODUDID_MODULE_DIR"))
    local code = [[early = MallocBuffer(16)
      ]] .. require .. [[

      FreeBuffer(early) late = MallocBuffer(16) FreeBuffer(late)
      print(select(2, pcall(GetInt32FrmMem, early, 0))) print(select(2, pcall(SetInt8FrmMem, late, 16, 1)))]]
    local out, err, rc = support.run(code, { prefix = CHECKED })
    assert.are.same({ 0, "" }, { rc, err })
    assert.matches("^[^\n]-: GetInt32FrmMem: offset 0, length 4 in the 16%-byte block [^\n]*\n[^\n]-: SetInt8FrmMem: ", out)
    out, err, rc = support.run("debug.getregistry()['vodUdid.checked'] = newproxy() " .. require, { prefix = CHECKED })
    assert.are.same({ 1, true }, { rc, err:find("registry layout differs", 1, true) ~= nil }, err)
  end)

  it("lets a state use 1 TiB of address space and more, then refuses MallocBuffer with an error", function()
    if support.sanitize then return end -- the sanitizer's runtime maps shadow for every reservation: too slow
    local code = [[local n, ok, msg = 0, true
      while ok do ok, msg = pcall(function() FreeBuffer(MallocBuffer(2147483647)) end) n = n + 1 end
      print(n * 2 >= 1024, msg)]]
    local out, err, rc = support.run(code, { prefix = CHECKED })
    assert.are.same({ "true\tmain:2: MallocBuffer: checked mode has used up the 2 TiB of address space it may "
      .. "reserve for this state\n", "", 0 }, { (out:gsub("\t%S+:(%d+): Malloc", "\tmain:%1: Malloc")), err, rc })
  end)

  it("is off unless VODUDID_CHECKED is 1, and then valid calls pass", function()
    local code = [[local b = MallocBuffer(16) SetInt32FrmMem(b, 12, 7)
      io.write(GetInt32FrmMem(b, 12), " ", BufferToString(GetBuffer(b, 15), 1)) FreeBuffer(b) FreeBuffer(nil)]]
    for _, prefix in ipairs({ "VODUDID_CHECKED=1 ", "VODUDID_CHECKED=0 ", "VODUDID_CHECKED= " }) do
      assert.are.same({ "7 00", "", 0 }, { support.run(code, { prefix = prefix }) }, prefix)
    end
  end)
end)
