-- Plain-Lua models for the buffer tests: bytes as tables of numbers, and a
-- door into a block that goes around the library: the process's own memory
-- file /proc/self/mem, read and written with Lua's io at a handle's address.
local M = {}

local mem = assert(io.open("/proc/self/mem", "r+b"))
mem:setvbuf("no") -- straight to the kernel: no read-ahead past a block, no write left pending
local function seek(h) assert(mem:seek("set", tonumber(tostring(h):match("0x(%x+)"), 16))) end

function M.block(t) -- a new block of #t bytes holding t
  local h, s = MallocBuffer(#t), {}
  for i, b in ipairs(t) do s[i] = string.char(b) end
  seek(h) assert(mem:write(table.concat(s)))
  return h
end

function M.peek(h, n) -- the n bytes at h
  seek(h) local s, t = n > 0 and assert(mem:read(n)) or "", {}
  for i = 1, n do t[i] = s:byte(i) end
  return t
end

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

function M.le(t, i, width) return width == 0 and 0 or t[i] + 256 * M.le(t, i + 1, width - 1) end -- t[i ...] unsigned

return M
