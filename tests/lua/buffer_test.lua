-- Blocks, raw memory, byte transfer to and from Lua strings, typed values,
-- and what the family does with null handles, negative counts and sizes
-- the free store cannot meet.
local support = require("support")
local m = require("bytemodel")
support.load()
math.randomseed(3)

local TWO32 = m.TWO32

describe("blocks", function()
  it("holds the requested count rounded up to a multiple of 16", function()
    -- Under the sanitizer build a block one byte short fails here.
    for _, n in ipairs({ 1, 15, 16, 17, 31, 32, 33, 100 }) do
      local size = math.ceil(n / 16) * 16
      local h = MallocBuffer(n)
      Memset(h, 0x5A, size)
      assert.are.equal(0x5A, GetInt8FrmMem(h, size - 1))
      assert.are.equal(h, FreeBuffer(h)) -- pushes nothing: the handle comes back
    end
  end)

  it("gives distinct blocks of no bytes for 0 and -30 .. -1", function()
    local seen = {}
    for _, n in ipairs({ 0, 0, -1, -5, -30 }) do
      local h = MallocBuffer(n)
      assert.are.equal("userdata", type(h))
      assert.are_not.equal(GetBuffer(nil, 0), h) -- not the null address
      assert.is_nil(seen[h])
      seen[h] = true
    end
    for h in pairs(seen) do FreeBuffer(h) end
  end)

  it("offsets handles either way; offset 0 is the same handle", function()
    local h = MallocBuffer(8)
    assert.are.equal(h, GetBuffer(h, 0))
    assert.are.equal(h, GetBuffer(GetBuffer(h, 5), -5))
    assert.are.equal(GetBuffer(h, 3), GetBuffer(GetBuffer(h, 7), -4))
    FreeBuffer(h)
  end)
end)

describe("raw memory", function()
  it("Memcpy matches memmove on random, often overlapping ranges", function()
    local n = 96
    local bytes = m.rand_bytes(n)
    local h = m.block(bytes)
    for _ = 1, 300 do
      local len = math.random(0, 40)
      local src, dst = math.random(0, n - len), math.random(0, n - len)
      local moved = {}
      for i = 1, len do moved[i] = bytes[src + i] end
      for i = 1, len do bytes[dst + i] = moved[i] end
      assert.are.equal(len, Memcpy(GetBuffer(h, dst), GetBuffer(h, src), len))
    end
    assert.are.same(bytes, m.peek(h, n))
    FreeBuffer(h)
  end)

  it("Memcmp's sign follows the first differing unsigned byte", function()
    for _ = 1, 300 do
      local len = math.random(0, 12)
      local a, b = m.rand_bytes(len), m.rand_bytes(len)
      if len > 0 and math.random(2) == 1 then -- mostly equal prefixes
        local k = math.random(1, len)
        for i = 1, k - 1 do b[i] = a[i] end
      end
      local want = 0
      for i = 1, len do
        if a[i] ~= b[i] then want = a[i] < b[i] and -1 or 1 break end
      end
      local ha, hb = m.block(a, len), m.block(b, len)
      local got = Memcmp(ha, hb, len)
      assert.are.equal(want, got > 0 and 1 or got < 0 and -1 or 0)
      FreeBuffer(ha)
      FreeBuffer(hb)
    end
  end)

  -- Memset's fill value: the number truncated toward zero, low 8 bits.
  -- Numbers past the 64-bit range saturate first; NaN fills with 0.
  local fills = {
    { 65.9, 0x41 }, { -1, 0xFF }, { 256, 0x00 }, { 4294967295, 0xFF }, { -0.5, 0x00 },
    { "0x7f", 0x7F }, { "x", 0x00 }, { nil, 0x00 },
    { 1e300, 0xFF }, { -1e300, 0x00 }, { 1 / 0, 0xFF }, { 0 / 0, 0x00 },
  }
  for _, row in ipairs(fills) do
    it("Memset with " .. tostring(row[1]) .. " fills " .. row[2], function()
      local h = MallocBuffer(4)
      Memset(h, 0x33, 4)
      assert.are.equal(3, Memset(h, row[1], 3))
      assert.are.same({ row[2], row[2], row[2], 0x33 }, m.peek(h, 4))
      FreeBuffer(h)
    end)
  end
end)

describe("Lua strings", function()
  it("CharsToBuffer copies up to the first zero byte, no terminator", function()
    local h = m.block({ 9, 9, 9, 9, 9, 9 })
    assert.are.equal("ab\0cd", CharsToBuffer(h, "ab\0cd"))
    assert.are.same({ 97, 98, 9, 9, 9, 9 }, m.peek(h, 6))
    CharsToBuffer(h, 4321) -- a number is written as its text
    assert.are.same({ 52, 51, 50, 49, 9, 9 }, m.peek(h, 6))
    FreeBuffer(h)
  end)

  it("BufferToChars stops at the first zero byte of the range", function()
    for _ = 1, 200 do
      local bytes = m.rand_bytes(32)
      local h = m.block(bytes)
      local off = math.random(0, 31)
      local len = math.random(0, 32 - off)
      local want = {}
      for i = off + 1, off + len do
        if bytes[i] == 0 then break end
        want[#want + 1] = string.char(bytes[i])
      end
      assert.are.equal(table.concat(want), BufferToChars(h, off, len))
      FreeBuffer(h)
    end
  end)
end)

describe("typed values", function()
  it("getters read unsigned little-endian values at any offset", function()
    local bytes = m.rand_bytes(40)
    bytes[1], bytes[2], bytes[3], bytes[4] = 255, 255, 255, 255
    local h = m.block(bytes)
    local mid = GetBuffer(h, 20)
    for at = -20, 16 do
      assert.are.equal(m.le(bytes, 21 + at, 4), GetInt32FrmMem(mid, at))
      assert.are.equal(m.le(bytes, 21 + at, 2), GetInt16FrmMem(mid, at))
      if at >= 0 then assert.are.equal(bytes[21 + at], GetInt8FrmMem(mid, at)) end
    end
    assert.are.equal(TWO32 - 1, GetInt32FrmMem(h, 0))
    assert.are.equal(m.le(bytes, 3, 4), GetInt32FrmMem(h, 2.9)) -- offset truncated
    FreeBuffer(h)
  end)

  it("setters store the low bits of random values", function()
    local n = 40
    local bytes = m.rand_bytes(n)
    local h = m.block(bytes)
    for _ = 1, 500 do
      local v = math.floor(math.random() * 2 ^ 40) - 2 ^ 39
      if math.random(2) == 1 then
        local at = math.random(0, n - 4)
        assert.are.equal(v, SetInt32FrmMem(h, at, v))
        m.put_le(bytes, at + 1, 4, v)
      else
        local at = math.random(0, n - 2)
        assert.are.equal(v, SetInt16FrmMem(h, at, v))
        m.put_le(bytes, at + 1, 2, v)
      end
    end
    assert.are.same(bytes, m.peek(h, n))
    -- The 32-bit setter truncates its number toward zero to 64 bits first.
    SetInt32FrmMem(h, 0, 2.9)
    SetInt32FrmMem(h, 4, -2.9)
    SetInt32FrmMem(h, 8, 4294967296)
    SetInt32FrmMem(h, 12, 1e300)
    assert.are.same({ 2, 0, 0, 0, 254, 255, 255, 255, 0, 0, 0, 0, 255, 255, 255, 255 }, m.peek(h, 16))
    FreeBuffer(h)
  end)
end)

describe("SetInt8FrmMem", function()
  it("stores the low 8 bits and prints its trace on every call, no line break", function()
    local out, err, rc = support.run([[
      local h = MallocBuffer(4)
      Memset(h, 0, 4)
      io.write(tostring(h):sub(11), "\n")
      io.write("[") local r = SetInt8FrmMem(h, 0, 300) io.write("]", r, "\n")
      SetInt8FrmMem(h, 1, -1) SetInt8FrmMem(h, 2, 4294967296 + 65) io.write("\n")
      io.write(BufferToString(h, 4), "\n")
      SetInt8FrmMem(nil, 5, 7) io.write("\n")
      FreeBuffer(h)
    ]])
    assert.are.equal("", err)
    assert.are.equal(0, rc)
    local addr = out:match("^([^\n]*)\n")
    assert.are.equal(addr .. "\n"
      .. "[" .. addr .. ", 0, 300, =44]300\n"
      .. addr .. ", 1, 4294967295, =255" .. addr .. ", 2, 65, =65\n"
      .. "2cff4100\n"
      .. "(nil), 5, 7, =0\n", out) -- glibc prints a null %p as (nil)
  end)
end)

-- Runs the lines of `code` in a child, each printing one result line, and
-- compares with `want`: a crash fails the test, not the run.
local function child_lines(code, want, prefix)
  local out, err, rc = support.run(code, { prefix = prefix })
  assert.are.equal("", err)
  assert.are.equal(0, rc)
  assert.are.equal(want, out)
end

describe("safe edges", function()
  it("never dereferences a null handle", function()
    -- Arguments are evaluated first: the CRC trace comes before the line.
    local rest = "[] ab ab ab\n0 0 0 0 0\n5 6 true true\n"
      .. "l_calc_crc32, pBuffer = (nil), nLen = 10, crc32 = 099 0\n"
    child_lines([[
      local function show(...) io.write(table.concat({ ... }, " "), "\n") end
      local h = MallocBuffer(4)
      Memset(h, 0x11, 4)
      for _, z in ipairs({ "nil", "5", "'text'" }) do
        local null = loadstring("return " .. z)()
        show(tostring(FreeBuffer(null)), Memcpy(null, h, 4), Memcpy(h, null, 4), Memset(null, 1, 4),
             Memcmp(null, h, 4), Memcmp(h, null, 4))
        show("[" .. BufferToString(null, 4) .. GetMemValue(null, 1, 4) .. BufferToChars(null, 0, 4) .. "]",
             StringtoBuffer(null, "ab"), SetMemValue(null, 1, "ab"), CharsToBuffer(null, "ab"))
        show(GetInt32FrmMem(null, 0), GetInt16FrmMem(null, 0), GetInt8FrmMem(null, 0),
             GetByteBitsFrmMem(null, 0, 0, 8), GetIntBitsFrmMem(null, 0, 0, 8))
        show(SetInt32FrmMem(null, 0, 5), SetInt16FrmMem(null, 0, 6),
             tostring(SetByteBitsFrmMem(null, 0, 0, 8, 1)), tostring(SetIntBitsFrmMem(null, 0, 0, 8, 1)))
        show(add_sum(null, 10, 99), calc_crc32(null, 10))
      end
      show(BufferToString(h, 4))
      FreeBuffer(h)
      FreeBuffer()
    ]], table.concat({ "nil", "5", "text" }, " 4 4 4 0 0\n" .. rest) .. " 4 4 4 0 0\n" .. rest
      .. "11111111\n")
  end)

  it("does nothing with counts that are negative after the cut to 32 bits", function()
    child_lines([[
      local a, b = MallocBuffer(8), MallocBuffer(8)
      Memset(a, 0x11, 8) Memset(b, 0x22, 8)
      for _, n in ipairs({ -1, -8, 4294967295, -2147483648 }) do
        Memcpy(a, b, n) Memset(a, 0, n) Memcpy(GetBuffer(a, 1), a, n)
        io.write(Memcmp(a, b, n), "[", BufferToString(a, n), GetMemValue(a, 0, n),
                 BufferToChars(a, 0, n), "]\n")
      end
      io.write(BufferToString(a, 8), "\n")
      FreeBuffer(a) FreeBuffer(b)
    ]], string.rep("0[]\n", 4) .. "1111111111111111\n")
  end)

  if not support.sanitize then -- ASan aborts on huge requests whatever we do
    it("hands back a null handle or nil when the memory cannot be had", function()
      child_lines([[
        local null = GetBuffer(nil, 0)
        for _, n in ipairs({ -31, -2147483648, 2147483647, 2147483633 }) do
          io.write(tostring(MallocBuffer(n) == null), " ")
        end
        local h = MallocBuffer(16)
        io.write(tostring(BufferToString(h, 2147483647)), " ", tostring(GetMemValue(h, 0, 2000000000)), "\n")
        FreeBuffer(h)
      ]], "true true true true nil nil\n", "ulimit -v 1000000; ")
    end)

    it("allocates the full 2^31 bytes for the largest counts when it can", function()
      -- Either outcome is the contract; a crash or a short block is not.
      local out, err, rc = support.run([[
        local h = MallocBuffer(2147483647)
        if h == GetBuffer(nil, 0) then io.write("null\n") return end
        Memset(GetBuffer(h, 2147483647), 7, 1)
        io.write(GetInt8FrmMem(h, 2147483647) == 7 and "ok\n" or "bad\n")
        FreeBuffer(h)
      ]])
      assert.are.equal(0, rc, err)
      assert.truthy(out == "ok\n" or out == "null\n", out)
    end)
  end
end)
