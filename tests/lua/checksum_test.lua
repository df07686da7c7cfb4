-- "calc_crc32" and "add_sum" against plain Lua models, and the CRC trace line.
-- (The CRC kernel itself is checked against zlib from C++.)
local support = require("support")
local m = require("bytemodel")
support.load()
math.randomseed(6)

local floor = math.floor

-- Bitwise CRC-32 (reflected 0xEDB88320, init and final complement).
local POLY = 0xEDB88320
local function crc32_model(bytes, first, last)
  local crc = 0xFFFFFFFF
  for i = first, last do
    crc = m.bxor(crc, bytes[i])
    for _ = 1, 8 do
      if crc % 2 == 1 then crc = m.bxor(floor(crc / 2), POLY) else crc = floor(crc / 2) end
    end
  end
  return m.TWO32 - 1 - crc
end

-- org plus the little-endian words, the tail word from its low byte up.
local function sum_model(bytes, first, last, org)
  local sum = org
  for i = first, last, 4 do
    local w, scale = 0, 1
    for k = i, math.min(i + 3, last) do
      w = w + bytes[k] * scale
      scale = scale * 256
    end
    sum = (sum + w) % m.TWO32
  end
  return sum
end

-- Runs "calc_crc32" in a child (its trace goes to C's stdout) over the
-- given ranges of one block; returns, per range, the text printed before the
-- call's result, the result, and the handle's address as Lua prints it.
local function crc_in_child(bytes, ranges)
  local calls = {}
  for _, r in ipairs(ranges) do
    calls[#calls + 1] = string.format([[
      p = GetBuffer(h, %d)
      io.write(tostring(p):sub(11), "#")
      r = calc_crc32(p, %s)
      io.write("|", string.format("%%.0f", r), "\n")]], r[1], r[2])
  end
  local out, err, rc = support.run(string.format([[
    local m = require("bytemodel")
    local h = m.block({%s})
    local p, r
    %s
    FreeBuffer(h)
  ]], table.concat(bytes, ","), table.concat(calls, "\n")))
  assert.are.equal("", err)
  assert.are.equal(0, rc)
  local rows = {}
  for addr, trace, result in out:gmatch("([^\n#]*)#([^\n|]*)|([^\n]*)\n") do
    rows[#rows + 1] = { addr = addr, trace = trace, result = result }
  end
  assert.are.equal(#ranges, #rows, out)
  return rows
end

describe("calc_crc32", function()
  it("matches the bitwise model and prints its trace, at random lengths and starts", function()
    local bytes = m.rand_bytes(700)
    local ranges = { { 0, 0 }, { 5, 1 } }
    for _ = 1, 10 do
      local start = math.random(0, 63)
      ranges[#ranges + 1] = { start, math.random(0, #bytes - start) }
    end
    for i, row in ipairs(crc_in_child(bytes, ranges)) do
      local start, len = ranges[i][1], ranges[i][2]
      local crc = string.format("%.0f", crc32_model(bytes, start + 1, start + len))
      assert.are.equal(crc, row.result)
      assert.are.equal(string.format("l_calc_crc32, pBuffer = %s, nLen = %d, crc32 = %s",
        row.addr, len, crc), row.trace)
    end
  end)

  it("cuts the length as a number truncated to 64 bits, low 32 used", function()
    local bytes = m.rand_bytes(40)
    local rows = crc_in_child(bytes, { { 0, "3.9" }, { 0, "2^32 + 7" }, { 0, "0/0" }, { 0, "nil" } })
    local want = { 3, 7, 0, 0 }
    for i, row in ipairs(rows) do
      assert.are.equal(string.format("%.0f", crc32_model(bytes, 1, want[i])), row.result)
      assert.truthy(row.trace:find(", nLen = " .. want[i] .. ", ", 1, true), row.trace)
    end
  end)
end)

describe("add_sum", function()
  it("matches the word-sum model over random ranges and starting sums", function()
    local bytes = m.rand_bytes(300)
    local h = m.block(bytes)
    for _ = 1, 200 do
      local start = math.random(0, 40)
      local len = math.random(0, #bytes - start)
      local org = floor(math.random() * m.TWO32)
      assert.are.equal(sum_model(bytes, start + 1, start + len, org),
        add_sum(GetBuffer(h, start), len, org))
    end
    FreeBuffer(h)
  end)

  it("continues across ranges split at a multiple of 4", function()
    local bytes = m.rand_bytes(257)
    local h = m.block(bytes)
    local whole = add_sum(h, #bytes, 12345)
    assert.are.equal(sum_model(bytes, 1, #bytes, 12345), whole)
    for cut = 0, #bytes, 4 do
      local first = add_sum(h, cut, 12345)
      assert.are.equal(whole, add_sum(GetBuffer(h, cut), #bytes - cut, first))
    end
    FreeBuffer(h)
  end)

  it("wraps at 2^32 and reads a missing length as 0", function()
    local h = m.block({ 1, 0, 0, 0 })
    assert.are.equal(0, add_sum(h, 4, m.TWO32 - 1))
    assert.are.equal(77, add_sum(h, nil, 77))
    assert.are.equal(0, add_sum(h))
    FreeBuffer(h)
  end)
end)
