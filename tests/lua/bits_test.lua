-- Bit fields ("Get/SetByteBitsFrmMem", "Get/SetIntBitsFrmMem") against a
-- plain arithmetic model over random containers, bit offsets and widths.
local support = require("support")
local m = require("bytemodel")
support.load()
math.randomseed(5)

local floor = math.floor

-- The field rule on a container of `bits` bits: mask of (nBits mod 32) bits,
-- shift by nBitsOfst mod 32, bits that fall past the container lost.
local function get_field(c, ofst, nbits)
  local s, w = ofst % 32, nbits % 32
  return floor(c / 2 ^ s) % 2 ^ w
end

local function set_field(c, bits, ofst, nbits, val)
  local s, w = ofst % 32, nbits % 32
  local keep = math.max(0, math.min(w, bits - s)) -- field bits inside the container
  if keep == 0 then return c end
  local old = floor(c / 2 ^ s) % 2 ^ keep
  local new = (val % 2 ^ w) % 2 ^ keep
  return c + (new - old) * 2 ^ s
end

-- Random arguments: bit offsets negative and well past 32, widths 0 to 40,
-- values of 40 bits either sign (only their low 32 bits are read).
local function rand_args()
  return math.random(-70, 70), math.random(0, 40), floor(math.random() * 2 ^ 40) - 2 ^ 39
end

-- A 64-byte block with the handle in its middle, so that negative byte
-- offsets and word indexes stay inside it.
local N, MID = 64, 32

describe("byte bit fields", function()
  it("get and set match the model", function()
    local bytes = m.rand_bytes(N)
    local h = m.block(bytes)
    local mid = GetBuffer(h, MID)
    for _ = 1, 3000 do
      local i = math.random(-MID, N - MID - 1)
      local ofst, nbits, val = rand_args()
      assert.are.equal(get_field(bytes[MID + i + 1], ofst, nbits),
        GetByteBitsFrmMem(mid, i, ofst, nbits))
      assert.is_true(SetByteBitsFrmMem(mid, i, ofst, nbits, val))
      bytes[MID + i + 1] = set_field(bytes[MID + i + 1], 8, ofst, nbits, val)
    end
    assert.are.same(bytes, m.peek(h, N))
    FreeBuffer(h)
  end)
end)

describe("word bit fields", function()
  it("get and set match the model, the container at word index * 4", function()
    local bytes = m.rand_bytes(N)
    local h = m.block(bytes)
    local mid = GetBuffer(h, MID)
    for _ = 1, 3000 do
      local w = math.random(-MID / 4, (N - MID) / 4 - 1)
      local at = MID + 4 * w + 1
      local ofst, nbits, val = rand_args()
      assert.are.equal(get_field(m.le(bytes, at, 4), ofst, nbits),
        GetIntBitsFrmMem(mid, w, ofst, nbits))
      assert.is_true(SetIntBitsFrmMem(mid, w, ofst, nbits, val))
      m.put_le(bytes, at, 4, set_field(m.le(bytes, at, 4), 32, ofst, nbits, val))
    end
    assert.are.same(bytes, m.peek(h, N))
    FreeBuffer(h)
  end)

  it("reads words at unaligned handles", function()
    local bytes = m.rand_bytes(N)
    local h = m.block(bytes)
    for k = 0, 3 do
      assert.are.equal(m.le(bytes, k + 5, 4) % 2 ^ 31, GetIntBitsFrmMem(GetBuffer(h, k), 1, 0, 31))
    end
    FreeBuffer(h)
  end)
end)
