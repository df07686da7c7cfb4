-- Checked mode (VODUDID_CHECKED=1): every kind of mistake refused with its message and memory untouched,
-- pcall and coroutines, the leak report at close (Lua's file objects as streams: the bad-input catalogue).
local support = require("support")

local CHECKED = "VODUDID_CHECKED=1 ASAN_OPTIONS=detect_leaks=0 " -- the leak report's blocks stay allocated

-- The documented message texts, put together from their parts. A row { call, offset, length, k } is a range
-- refused by the global the call names: k 1 and 2 outside the live blocks b and c, 3 in the freed f.
local function block(size, at, freed)
  return ("the %d-byte block allocated at %s"):format(size, at) .. (freed and " and freed at " .. freed or "")
end
local BLOCKS = { "outside " .. block(16, "setup:1"), "outside " .. block(32, "setup:2"),
  "in " .. block(16, "setup:3", "setup:4") }
local function message(row)
  if type(row[2]) == "string" then return row[2] end
  return ("%s: offset %d, length %d %s"):format(row[1]:match("^[%w_]+"), row[2], row[3], BLOCKS[row[4]])
end

-- setup: b (16 bytes, line 1), c (32, line 2), f (16, line 3, freed on line 4), a stream s opened and
-- closed (5-6) beside an open h, a descriptor d opened and closed (7-8) beside an open fd, a block
-- allocated in a coroutine (10) and freed in the main chunk (11).
local SETUP = [[b = MallocBuffer(16) CharsToBuffer(b, "0123456789abcdef")
c = MallocBuffer(20) CharsToBuffer(c, ("C"):rep(32))
f = MallocBuffer(16)
FreeBuffer(f)
s, h = fopen("x", "w"), fopen("x", "r+")
fclose(s)
d, fd = LFopen("x", 1), LFopen("x", 1)
LFclose(d)
-- (nothing opens after a close: the C library may hand the same stream or number out again)
co = coroutine.wrap(function() local k = MallocBuffer(16) coroutine.yield(k) end)()
FreeBuffer(co)]]

local rows = {
  { "Memcpy(c, b, 17)", 0, 17, 1 }, { "Memcpy(b, c, 17)", 0, 17, 1 }, { "Memset(GetBuffer(b, -1), 0, 2)", -1, 2, 1 },
  { "Memcmp(c, f, 4)", 0, 4, 3 }, { "BufferToString(b, 17)", 0, 17, 1 },
  { 'StringtoBuffer(b, ("ab"):rep(16) .. "c")', 0, 17, 1 }, { "GetMemValue(b, 15, 2)", 15, 2, 1 },
  { 'SetMemValue(c, 31, "aabb")', 31, 2, 2 }, { "BufferToChars(b, 8, 9)", 8, 9, 1 },
  { 'CharsToBuffer(b, ("x"):rep(17))', 0, 17, 1 }, { "GetInt32FrmMem(b, 13.9)", 13, 4, 1 },
  { "SetInt32FrmMem(f, 0, 1)", 0, 4, 3 }, { "GetInt16FrmMem(b, 15)", 15, 2, 1 },
  { "SetInt16FrmMem(b, -2, 1)", -2, 2, 1 },
  { "GetInt8FrmMem(b, 16)", 16, 1, 1 }, { "SetInt8FrmMem(b, 16, 1)", 16, 1, 1 },
  { "GetByteBitsFrmMem(b, 16, 0, 1)", 16, 1, 1 }, { "SetByteBitsFrmMem(b, -1, 0, 1, 1)", -1, 1, 1 },
  { "GetIntBitsFrmMem(b, 4, 0, 1)", 16, 4, 1 }, { "SetIntBitsFrmMem(b, -1, 0, 1, 1)", -4, 4, 1 },
  { "calc_crc32(b, 17)", 0, 17, 1 }, { "add_sum(f, 4, 0)", 0, 4, 3 }, { "TraceBuffer(b, 600)", 0, 512, 1 },
  { "fwrite(h, b, 17)", 0, 17, 1 }, { "fread(h, GetBuffer(c, 16), 17)", 16, 17, 2 },
  { "LFwrite(fd, b, 17)", 0, 17, 1 }, { "LFread(fd, c, 33)", 0, 33, 2 },
  { "FreeBuffer(f)", "FreeBuffer: double free of " .. block(16, "setup:3", "setup:4") },
  { "FreeBuffer(GetBuffer(b, 4))", "FreeBuffer: offset 4 of " .. block(16, "setup:1") .. " is not a block's start" },
  { "FreeBuffer(GetBuffer(nil, 4096))", "FreeBuffer: 0x1000 is not a block of MallocBuffer" },
  { "fclose(GetBuffer(b, 3))", "fclose: offset 3 of " .. block(16, "setup:1") .. " is a buffer, not a stream" },
  { "fgetALine(f)", "fgetALine: offset 0 of " .. block(16, "setup:3", "setup:4") .. " is a buffer, not a stream" },
  { "fseek(s, 0, 0)", "fseek: the stream opened at setup:5 was closed at setup:6" },
  { "fclose(s)", "fclose: the stream opened at setup:5 was closed at setup:6" },
  { "LFread(d, b, 1)", "LFread: descriptor %d opened at setup:7 was closed at setup:8" },
  { "LFclose(d)", "LFclose: descriptor %d opened at setup:7 was closed at setup:8" },
  { "LFseek()", "LFseek: the descriptor argument is no value, not a number" },
  { 'LFwrite("x", b, 1)', "LFwrite: the descriptor argument is string, not a number" },
  { "coroutine.wrap(function() GetInt8FrmMem(co, 0) end)()", -- wrap adds a place
    "row:1: GetInt8FrmMem: offset 0, length 1 in " .. block(16, "setup:10", "setup:11") },
  { 'CopyFile("x", "a b")', 'CopyFile: path "a b" holds a blank, which the shell would act on' },
  { 'CopyFile("x;touch y", "z")', 'CopyFile: path "x;touch y" holds a semicolon, which the shell would act on' },
  { 'CopyFile("$HOME", "z")', 'CopyFile: path "$HOME" holds a dollar sign, which the shell would act on' },
  { 'CopyFile("x", "z|w")', 'CopyFile: path "z|w" holds a pipe, which the shell would act on' },
}

describe("checked mode", function()
  it("refuses each mistake with its message, touching nothing, and reports leaks at close", function()
    local dir = support.tmpdir()
    local code = { "assert(loadstring(" .. ("%q"):format(SETUP) .. ', "=setup"))()', "print(d)" }
    for _, row in ipairs(rows) do
      -- Each row is line 1 of its own chunk "row"; memory is compared around the call.
      code[#code + 1] = ([[do local before = BufferToString(b, 16) .. BufferToString(c, 32)
        local ok, msg = pcall(assert(loadstring(%q, "=row")))
        print(tostring(ok) .. " " .. tostring(msg) .. " " .. tostring(before == BufferToString(b, 16) .. BufferToString(c, 32)))
      end]]):format(row[1])
    end
    code[#code + 1] = 'fclose(h) LFclose(fd) print(io.open("x"):read("*a") == "", io.open("z") == nil)'
    local out, err, rc = support.run(table.concat(code, "\n"), { cd = dir, prefix = CHECKED })
    support.rmtree(dir)
    local lines = {}
    for line in out:gmatch("([^\n]*)\n") do lines[#lines + 1] = line end
    local d = tonumber(lines[1])
    for i, row in ipairs(rows) do
      assert.are.equal("false row:1: " .. message(row):format(d) .. " true", lines[i + 1], row[1])
    end
    assert.are.same({ "true\ttrue", #rows + 2 }, { lines[#rows + 2], #lines })
    -- Blocks still allocated at close, in allocation order; the blocks themselves are left alone.
    assert.are.same({ "vodUdid checked: 16-byte block allocated at setup:1 never freed\n"
      .. "vodUdid checked: 32-byte block allocated at setup:2 never freed\n", 0 }, { err, rc })
  end)

  it("is off unless VODUDID_CHECKED is 1, and then valid calls pass", function()
    -- 4,200 frees: the oldest leave the quarantine on the way.
    local code = [[for _ = 1, 4200 do FreeBuffer(MallocBuffer(16)) end local b = MallocBuffer(16) SetInt32FrmMem(b, 12, 7)
      io.write(GetInt32FrmMem(b, 12), " ", BufferToString(GetBuffer(b, 15), 1)) FreeBuffer(b) FreeBuffer(nil)]]
    for _, prefix in ipairs({ "VODUDID_CHECKED=1 ", "VODUDID_CHECKED=0 ", "VODUDID_CHECKED= " }) do
      assert.are.same({ "7 00", "", 0 }, { support.run(code, { prefix = prefix }) }, prefix)
    end
  end)
end)
