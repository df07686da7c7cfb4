-- Hex text: "BufferToString"/"GetMemValue" out, "StringtoBuffer"/"SetMemValue"
-- in, checked against string.format("%02x") and a strtol model.
local support = require("support")
local m = require("bytemodel")
support.load()
math.randomseed(4)

describe("hex out", function()
  it("matches %02x over random blocks, whole and from any offset", function()
    for _, n in ipairs({ 1, 2, 3, 15, 16, 17, 255, 256, 257, 1000, 70000 }) do
      local bytes = m.rand_bytes(n)
      local h = m.block(bytes)
      assert.are.equal(m.hex(bytes), BufferToString(h, n))
      for _ = 1, 5 do
        local off = math.random(0, n - 1)
        local len = math.random(0, n - off)
        assert.are.equal(m.hex(bytes, off + 1, off + len), GetMemValue(h, off, len))
      end
      FreeBuffer(h)
    end
  end)

  it("gives the empty string for no bytes", function()
    local h = m.block({ 0xAB })
    assert.are.equal("", BufferToString(h, 0))
    assert.are.equal("", BufferToString(h))
    assert.are.equal("", GetMemValue(h, 1, 0))
    FreeBuffer(h)
  end)

  it("reads bytes before an offset handle with a negative offset", function()
    local h = m.block({ 1, 2, 3, 4 })
    assert.are.equal("0102", GetMemValue(GetBuffer(h, 3), -3, 2))
    FreeBuffer(h)
  end)
end)

describe("hex in", function()
  it("is the exact inverse of hex out (packed: byte k at offset k)", function()
    for _, n in ipairs({ 1, 2, 7, 64, 333, 4096, 65537 }) do
      local bytes = m.rand_bytes(n)
      local h = MallocBuffer(n)
      local text = m.hex(bytes)
      assert.are.equal(text, StringtoBuffer(h, text)) -- the text comes back
      assert.are.same(bytes, m.peek(h, n))
      StringtoBuffer(h, text:upper())
      assert.are.equal(text, BufferToString(h, n))
      FreeBuffer(h)
    end
  end)

  it("SetMemValue writes its bytes at the offset and nothing else", function()
    for _ = 1, 20 do
      local n = math.random(1, 64)
      local before = m.rand_bytes(n)
      local h = m.block(before)
      local off = math.random(0, n - 1)
      local ins = m.rand_bytes(math.random(0, n - off))
      local want = m.copy(before)
      for i, b in ipairs(ins) do want[off + i] = b end
      assert.are.equal(m.hex(ins), SetMemValue(h, off, m.hex(ins)))
      assert.are.same(want, m.peek(h, n))
      FreeBuffer(h)
    end
  end)

  it("converts every pair of non-zero bytes as strtol in base 16", function()
    -- All 255 * 255 pairs in one text, converted in one call.
    local parts, want = {}, {}
    for a = 1, 255 do
      for b = 1, 255 do
        parts[#parts + 1] = string.char(a, b)
        want[#want + 1] = m.strtol_pair(a, b)
      end
    end
    local h = MallocBuffer(#want)
    StringtoBuffer(h, table.concat(parts))
    local got = m.peek(h, #want)
    for k = 1, #want do
      if got[k] ~= want[k] then
        local a, b = parts[k]:byte(1, 2)
        error(string.format("pair %d,%d: got %d, strtol gives %d", a, b, got[k], want[k]))
      end
    end
    FreeBuffer(h)
  end)

  it("reads an odd text as if a 0 stood in front of it", function()
    local h = MallocBuffer(4)
    for c = 1, 255 do
      Memset(h, 0xEE, 4)
      SetMemValue(h, 1, string.char(c) .. "7f")
      assert.are.same({ 0xEE, m.strtol_pair(48, c), 0x7F, 0xEE }, m.peek(h, 4))
    end
    FreeBuffer(h)
  end)

  -- Each row: text argument, the bytes expected in a block first set to EE.
  local rows = {
    { "", { 0xEE, 0xEE } },
    { "7", { 0x07, 0xEE } },
    { "zz", { 0x00, 0xEE } },
    { "ab\0cd", { 0xAB, 0xEE } }, -- the text ends at its first zero byte
    { 12, { 0x12, 0xEE } },       -- a number is converted to its decimal text
    { 123, { 0x01, 0x23 } },
  }
  for _, row in ipairs(rows) do
    it(string.format("StringtoBuffer(h, %q)", row[1]), function()
      local h = MallocBuffer(2)
      Memset(h, 0xEE, 2)
      local back = StringtoBuffer(h, row[1])
      assert.are.same(row[2], m.peek(h, 2))
      assert.are.equal(tostring(row[1]), back) -- a number comes back as its text
      FreeBuffer(h)
    end)
  end
end)
