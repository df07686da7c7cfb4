-- A hex dump in the layout of `xxd FILE`: offset, eight groups of two bytes,
-- the printable column. Built on the globals: the file comes through a C
-- stream into a buffer, GetMemValue gives the hex, BufferToChars the text.
--
-- Run: build/vodudid examples/hexdump.lua [-s OFFSET] [-l LENGTH] FILE
--  or: lua5.1 examples/hexdump.lua [-s OFFSET] [-l LENGTH] FILE
-- OFFSET and LENGTH are read as xxd reads them: decimal, 0x hex, leading-0
-- octal; -s -N starts N bytes before the end; a negative LENGTH means all.
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

local function die(msg)
  io.stderr:write("hexdump: ", msg, "\n")
  os.exit(2)
end

-- C's strtol(s, NULL, 0): the longest number at the start of s, else 0.
local function strtol0(s)
  local sign, rest = s:match("^%s*([+-]?)(.*)$")
  local digits, base = rest:match("^0[xX](%x+)"), 16
  if not digits then digits, base = rest:match("^0([0-7]*)"), 8 end
  if not digits then digits, base = rest:match("^%d*"), 10 end
  local n = tonumber(digits, base) or 0
  return sign == "-" and -n or n
end

local args, skip, fromEnd, length, path = arg, 0, false, -1, nil
local i = 1
while args[i] do
  local opt, val = args[i]:match("^%-([sl])(.*)$")
  if opt then
    if val == "" then i = i + 1; val = args[i] or die("-" .. opt .. " needs a number") end
    if opt == "s" then
      fromEnd = val:match("^%+?%-") ~= nil
      skip = strtol0(val:gsub("^%+?%-?", ""))
    else
      length = strtol0(val)
    end
  elseif path then
    die("usage: hexdump.lua [-s OFFSET] [-l LENGTH] FILE")
  else
    path = args[i]
  end
  i = i + 1
end
if not path then die("usage: hexdump.lua [-s OFFSET] [-l LENGTH] FILE") end

local h = fopen(path, "rb")
if h == GetBuffer(nil, 0) then die("cannot open " .. path) end
if fromEnd then
  local f = io.open(path, "rb")
  local size = f:seek("end")
  f:close()
  if skip > size then die("cannot seek") end
  skip = size - skip
end
-- fseek takes a signed 32-bit offset: get there in steps.
local STEP = 1073741824
fseek(h, 0, 0)
for _ = 1, math.floor(skip / STEP) do fseek(h, STEP, 1) end
fseek(h, skip % STEP, 1)

-- The printable column of n bytes at offset p: BufferToChars stops at a zero
-- byte, which shows as '.' like every other unprintable byte.
local function text(buf, p, n)
  local out = {}
  while n > 0 do
    local s = BufferToChars(buf, p, n)
    out[#out + 1] = s:gsub("[^\32-\126]", ".")
    if #s < n then out[#out + 1] = "." end
    p, n = p + #s + 1, n - #s - 1
  end
  return table.concat(out)
end

local CHUNK = 65536 -- a multiple of 16: lines never straddle two reads
local buf = MallocBuffer(CHUNK)
local offset, left = skip, length < 0 and math.huge or length
while left > 0 do
  local n = fread(h, buf, math.min(CHUNK, left))
  if n == 0 then break end
  local lines = {}
  for p = 0, n - 1, 16 do
    local k = math.min(16, n - p)
    local hex = GetMemValue(buf, p, k):gsub("(....)", "%1 ")
    lines[#lines + 1] = string.format("%08x: %-40s %s\n", offset + p, hex, text(buf, p, k))
  end
  io.write(table.concat(lines))
  offset, left = offset + n, left - n
end
FreeBuffer(buf)
fclose(h)
