-- Plain-Lua models for the buffer tests: bytes as tables of numbers, 32-bit
-- arithmetic on doubles (Lua 5.1 has no bit operators), and the two simplest
-- doors into a block, used to set up and read back what the functions under
-- test did: a one-byte Memset to write, GetInt8FrmMem to read.
local M = {}

local floor = math.floor
M.TWO32 = 4294967296

-- n random bytes; zero bytes are common on purpose (1 in 8).
function M.rand_bytes(n)
  local t = {}
  for i = 1, n do
    t[i] = math.random(0, 7) == 0 and 0 or math.random(0, 255)
  end
  return t
end

function M.hex(bytes, first, last)
  local out = {}
  for i = first or 1, last or #bytes do out[#out + 1] = string.format("%02x", bytes[i]) end
  return table.concat(out)
end

function M.poke(h, bytes)
  for i, b in ipairs(bytes) do Memset(GetBuffer(h, i - 1), b, 1) end
end

function M.peek(h, n)
  local t = {}
  for i = 1, n do t[i] = GetInt8FrmMem(h, i - 1) end
  return t
end

-- A block of n bytes holding `bytes` (n defaults to their count).
function M.block(bytes, n)
  local h = MallocBuffer(n or #bytes)
  M.poke(h, bytes)
  return h
end

function M.copy(t)
  local c = {}
  for i = 1, #t do c[i] = t[i] end
  return c
end

-- Bitwise xor of two numbers in 0 .. 2^32 - 1.
function M.bxor(a, b)
  local r, bit = 0, 1
  while a > 0 or b > 0 do
    if a % 2 ~= b % 2 then r = r + bit end
    a, b, bit = floor(a / 2), floor(b / 2), bit * 2
  end
  return r
end

-- Little-endian unsigned value of the bytes t[i .. i + width - 1].
function M.le(t, i, width)
  local v = 0
  for k = width - 1, 0, -1 do v = v * 256 + t[i + k] end
  return v
end

-- Stores the low 8 * width bits of v (any integral number) at t[i ...].
function M.put_le(t, i, width, v)
  v = v % 2 ^ (8 * width)
  for k = 0, width - 1 do
    t[i + k] = v % 256
    v = floor(v / 256)
  end
end

-- strtol(text, NULL, 16) for a two-character text, low 8 bits: white space,
-- one sign, then hex digits of either case up to the first other character.
local function isspace(c) return c == 32 or (c >= 9 and c <= 13) end
local function digit(c)
  if c >= 48 and c <= 57 then return c - 48 end
  if c >= 97 and c <= 102 then return c - 87 end
  if c >= 65 and c <= 70 then return c - 55 end
end
function M.strtol_pair(a, b)
  local cs, pos, neg, v = { a, b }, 1, false, 0
  while pos <= 2 and isspace(cs[pos]) do pos = pos + 1 end
  if pos <= 2 and (cs[pos] == 43 or cs[pos] == 45) then
    neg = cs[pos] == 45
    pos = pos + 1
  end
  while pos <= 2 and digit(cs[pos]) do
    v = v * 16 + digit(cs[pos])
    pos = pos + 1
  end
  return (neg and -v or v) % 256
end

return M
