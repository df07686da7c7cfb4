-- Plain-Lua models for the buffer tests: bytes as tables of numbers, and the
-- two simplest doors into a block (a one-byte Memset in, GetInt8FrmMem out).
local M = {}

function M.rand_bytes(n) -- zero bytes are common on purpose (1 in 8)
  local t = {}
  for i = 1, n do t[i] = math.random(0, 7) == 0 and 0 or math.random(0, 255) end
  return t
end

function M.hex(t, first, last)
  local out = {}
  for i = first or 1, last or #t do out[#out + 1] = string.format("%02x", t[i]) end
  return table.concat(out)
end

function M.block(t, n) -- a block of n (default #t) bytes holding t
  local h = MallocBuffer(n or #t)
  for i, b in ipairs(t) do Memset(GetBuffer(h, i - 1), b, 1) end
  return h
end

function M.peek(h, n)
  local t = {}
  for i = 1, n do t[i] = GetInt8FrmMem(h, i - 1) end
  return t
end

function M.le(t, i, width) -- unsigned little-endian value of t[i .. i + width - 1]
  return width == 0 and 0 or t[i] + 256 * M.le(t, i + 1, width - 1)
end

function M.put_le(t, i, width, v) -- stores the low 8 * width bits of v at t[i ...]
  v = v % 2 ^ (8 * width)
  for k = 0, width - 1 do t[i + k], v = v % 256, math.floor(v / 256) end
end

return M
