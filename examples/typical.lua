-- The typical use of the library: read a file into a buffer, checksum it,
-- read a 32-bit field, show bytes as hex, read it again line by line.
-- Run: build/vodudid examples/typical.lua [FILE]   (default: this script)
--  or: lua5.1 examples/typical.lua [FILE]
-- The globals: the vodudid host has them; under lua5.1 or luajit they come
-- from require "vodUdid" (package.cpath, then the build's lua/ folder of the
-- checkout this script lies in), else from the library $VODUDID_LIB names.
if not MallocBuffer then
  local here = arg and arg[0] and arg[0]:match("^(.*)/") or "."
  package.cpath = package.cpath .. ";" .. here .. "/../build/lua/?.so"
  local ok, err = pcall(require, "vodUdid")
  if not ok then
    local lib = os.getenv("VODUDID_LIB")
    assert(package.loadlib(assert(lib, err), "l_RegAllFun"))()
  end
end

local path = arg[1] or arg[0]

-- How long the file is, in Lua's own terms.
local f = io.open(path, "rb")
local size = f and f:seek("end") or 0
if f then f:close() end

-- A failed open gives a null handle, not nil; GetBuffer of nothing is one.
local NULL = GetBuffer(nil, 0)
local h = fopen(path, "rb")
if h == NULL then
  DebugTrace("cannot open " .. path)
  return
end
local buf = MallocBuffer(size)
local n = fread(h, buf, size)
DebugTrace(string.format("read %d of %d bytes from %s", n, size, path))

local crc = calc_crc32(buf, n) -- prints a trace line, without a line break
io.write("\n")
DebugTrace(string.format("CRC-32 %08X", crc))
if n >= 4 then
  DebugTrace(string.format("first 32-bit field (little-endian) %08X", GetInt32FrmMem(buf, 0)))
end
DebugTrace("first bytes in hex: " .. BufferToString(buf, math.min(n, 16)))

-- Back to the start, now as text.
fseek(h, 0, 0)
local lines, line = 0, fgetALine(h)
while line do
  lines = lines + 1
  line = fgetALine(h)
end
DebugTrace(string.format("%d lines", lines))

fclose(h)
FreeBuffer(buf)
