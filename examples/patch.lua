-- A small binary patcher built on the globals: the file comes into a buffer
-- through a descriptor, the edits go in through the typed, bit-field and hex
-- setters, and LFwrite puts it back. The CRC-32 is shown before and after.
--
-- Run: build/vodudid examples/patch.lua FILE EDIT...
--  or: lua5.1 examples/patch.lua FILE EDIT...
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

local USAGE = [[
usage: patch.lua FILE EDIT...
  OFFSET:u8=V             the byte at OFFSET
  OFFSET:u16=V            16-bit value at OFFSET, little-endian
  OFFSET:u32=V            32-bit value at OFFSET, little-endian
  OFFSET:bit8:FIRST:WIDTH=V
                          a bit field of the byte at byte OFFSET:
                          bits FIRST .. FIRST+WIDTH-1, bit 0 the lowest (FIRST+WIDTH <= 8)
  INDEX:bit32:FIRST:WIDTH=V
                          a bit field of the little-endian 32-bit word at
                          word INDEX, i.e. at byte offset 4*INDEX (FIRST+WIDTH <= 32, WIDTH <= 31)
  hex=OFFSET:BYTES        the bytes written as hex digit pairs, from OFFSET on
Numbers are decimal or 0x hex. Edits apply in order; any edit outside the
file, value that does not fit or malformed text refuses the whole patch and
leaves the file as it was.]]

local function refuse(msg)
  io.stderr:write("patch: ", msg, "\n")
  os.exit(2)
end

local function number(s)
  local n = s and (s:match("^%d+$") and tonumber(s) or s:match("^0[xX]%x+$") and tonumber(s:sub(3), 16))
  return n
end

-- One edit's text as {text, offset, size, kind, ...}, or a refusal.
local function parse(text, size)
  local e = { text = text }
  local off, kind, rest = text:match("^([^:=]+):(%w+)(.*)$")
  if text:match("^hex=") then
    off, e.hex = text:match("^hex=([^:]+):(%x*)$")
    if not e.hex or e.hex == "" or #e.hex % 2 == 1 then refuse("malformed edit " .. text) end
    e.kind, e.len = "hex", #e.hex / 2
  elseif kind == "u8" or kind == "u16" or kind == "u32" then
    e.kind, e.len, e.value = kind, tonumber(kind:sub(2)) / 8, number(rest:match("^=(.*)$"))
  elseif kind == "bit8" or kind == "bit32" then
    local first, width, value = rest:match("^:([^:]+):([^=]+)=(.*)$")
    e.kind, e.first, e.width, e.value = kind, number(first), number(width), number(value)
    e.len = kind == "bit8" and 1 or 4
    if e.first and e.width and (e.width < 1 or e.width > 31 or e.first + e.width > e.len * 8) then
      refuse("bit field " .. text .. " does not fit its container")
    end
    e.bits = e.width
  else
    refuse("malformed edit " .. text)
  end
  e.offset = number(off)
  if not e.offset or (e.kind ~= "hex" and not e.value) or (e.first and not e.width) then
    refuse("malformed edit " .. text)
  end
  if e.kind == "bit32" then e.index, e.offset = e.offset, 4 * e.offset end
  if e.value and e.value >= 2 ^ (e.bits or e.len * 8) then refuse("value of " .. text .. " does not fit") end
  if e.offset + e.len > size then refuse(text .. " is outside the file (" .. size .. " bytes)") end
  return e
end

local path = arg[1]
if not path or not arg[2] then io.stderr:write(USAGE, "\n") os.exit(2) end
-- LFread hands back the length asked for, not what came: take the size from Lua.
local f = io.open(path, "rb")
if not f then refuse("cannot open " .. path) end
local size = f:seek("end")
f:close()
local edits = {}
for i = 2, #arg do edits[#edits + 1] = parse(arg[i], size) end

local fd = LFopen(path, 1)
if fd < 0 then refuse("cannot open " .. path .. " for writing") end
local buf = MallocBuffer(size)
if size > 0 then LFread(fd, buf, size) end

local function crc(label)
  io.write(label, ": ")
  local c = calc_crc32(buf, size)
  io.write(string.format(" (%08X)\n", c))
end

crc("before")
for _, e in ipairs(edits) do
  local old = GetMemValue(buf, e.offset, e.len)
  if e.kind == "u8" then
    SetInt8FrmMem(buf, e.offset, e.value) -- prints its own trace
    io.write("\n")
  elseif e.kind == "u16" then SetInt16FrmMem(buf, e.offset, e.value)
  elseif e.kind == "u32" then SetInt32FrmMem(buf, e.offset, e.value)
  elseif e.kind == "bit8" then SetByteBitsFrmMem(buf, e.offset, e.first, e.width, e.value)
  elseif e.kind == "bit32" then SetIntBitsFrmMem(buf, e.index, e.first, e.width, e.value)
  else SetMemValue(buf, e.offset, e.hex) end
  io.write(string.format("%s: %s -> %s\n", e.text, old, GetMemValue(buf, e.offset, e.len)))
end
crc("after")

LFseek(fd, 0, 0, 0)
if size > 0 then LFwrite(fd, buf, size) end
LFclose(fd)
FreeBuffer(buf)
