-- Hex text: the rows a generated input does not reach (negative offsets, the
-- odd and cut texts, numbers). Random round trips are fuzz/hex_fuzz.cpp's, every
-- pair of the strtol rule is swept against strtol in tests/cpp/memkernels_test.cpp.
local support = require("support")
local m = require("bytemodel")
support.load()
math.randomseed(4)

describe("hex text", function()
  it("reaches back from a handle inside a block with a negative offset", function()
    local bytes = m.rand_bytes(16)
    local h = m.block(bytes)
    local inner = GetBuffer(h, 10)
    for _, row in ipairs({ { -7, "a1B2c3", 4 }, { -1, "7", 10 }, { -10, "00fF", 1 } }) do
      local off, text, first = row[1], row[2], row[3] -- first: the 1-based model index of inner + off
      local padded = (#text % 2 == 1 and "0" or "") .. text
      for k = 1, #padded, 2 do bytes[first + (k - 1) / 2] = tonumber(padded:sub(k, k + 1), 16) end
      SetMemValue(inner, off, text)
      assert.are.same(bytes, m.peek(h, 16), text)
      assert.are.equal(m.hex(bytes, first, 16), GetMemValue(inner, off, 16 - first + 1), text)
    end
    FreeBuffer(h)
  end)

  it("reads an odd text with a 0 in front, to its first zero byte; a number as its text", function()
    local h = MallocBuffer(2)
    for _, row in ipairs({ { "", "eeee" }, { "7", "07ee" }, { "g", "00ee" }, { "abc", "0abc" },
      { "ab\0cd", "abee" }, { 12, "12ee" }, { 123, "0123" } }) do
      Memset(h, 0xEE, 2)
      assert.are.equal(tostring(row[1]), StringtoBuffer(h, row[1]))
      assert.are.equal(row[2], BufferToString(h, 2), row[1])
    end
    assert.are.same({ "", "" }, { BufferToString(h, 0), BufferToString(h) })
    FreeBuffer(h)
  end)
end)
