-- Blocks, raw memory, typed values, bit fields and the word sum against plain models (the kernels are
-- checked from C++); the two trace lines; null handles, negative counts and failed allocations.
local support = require("support")
local m = require("bytemodel")
support.load()
math.randomseed(3)

-- Runs code in a child (a crash fails the test, not the run); want is its exact stdout or a function of it.
local function child(code, want, prefix)
  local out, err, rc = support.run(code, { prefix = prefix })
  assert.are.same({ "", 0 }, { err, rc })
  assert.are.equal(type(want) == "function" and want(out) or want, out)
end

describe("blocks", function()
  it("round up to a multiple of 16; 0 and -30 .. -1 give distinct empty blocks", function()
    local seen = { [GetBuffer(nil, 0)] = true }
    for _, n in ipairs({ 1, 15, 16, 17, 33, 0, 0, -1, -30 }) do
      local size, h = math.max(0, math.ceil(n / 16) * 16), MallocBuffer(n)
      assert.is_nil(seen[h])
      seen[h] = true
      Memset(h, 0x5A, size) -- the sanitizer build traps a block one byte short
      if size > 0 then assert.are.equal(0x5A, GetInt8FrmMem(GetBuffer(GetBuffer(h, size + 4), -5), 0)) end
    end
    for h in pairs(seen) do assert.are.equal(h, FreeBuffer(h)) end -- the handle comes back
  end)

  if not support.sanitize then -- ASan aborts on huge requests whatever we do
    it("hand back a null handle, or nil for hex text, when memory cannot be had", function()
      child([[
        for _, n in ipairs({ -31, -2147483648, 2147483647, 2147483633 }) do
          io.write(tostring(MallocBuffer(n) == GetBuffer(nil, 0)), " ")
        end
        local h = MallocBuffer(16)
        local function try(f, ...) local ok, r = pcall(f, ...) return ok and tostring(r) or "refused" end
        io.write(try(BufferToString, h, 2147483647), " ", try(GetMemValue, h, 0, 2000000000))
        FreeBuffer(h)
      ]], support.checked and "true true true true refused refused" or "true true true true nil nil",
        "ulimit -v 1000000; ")
    end)
  end
end)

describe("raw memory", function()
  it("Memcmp, BufferToChars, add_sum and Memcpy over random ranges match the model", function()
    local bytes = m.rand_bytes(96)
    local h = m.block(bytes)
    for _ = 1, 500 do
      local len = math.random(0, 40)
      local src, dst = math.random(0, 96 - len), math.random(0, 96 - len)
      local a, b = string.char(unpack(bytes, dst + 1, dst + len)), string.char(unpack(bytes, src + 1, src + len))
      local p, got = GetBuffer(h, dst), Memcmp(GetBuffer(h, dst), GetBuffer(h, src), len)
      assert.are.equal(a < b and -1 or a > b and 1 or 0, got > 0 and 1 or got < 0 and -1 or 0) -- unsigned bytes
      assert.are.equal(a:match("^[^%z]*"), BufferToChars(h, dst, len))
      -- The sum: org plus the words, the tail word from its low byte up; numbers cut to 64 bits, low 32 used.
      local org, cut = math.floor(math.random() * 2 ^ 40) - 2 ^ 39, 4 * math.random(0, math.floor(len / 4))
      local sum = org % 2 ^ 32
      for i = 1, len, 4 do sum = (sum + m.le(bytes, dst + i, math.min(4, len + 1 - i))) % 2 ^ 32 end
      assert.are.equal(sum, add_sum(p, len + 2 ^ 32 * math.random(0, 1), org))
      assert.are.equal(sum, add_sum(GetBuffer(p, cut), len - cut, add_sum(p, cut, org)))
      assert.are.equal(len, Memcpy(p, GetBuffer(h, src), len)) -- overlapping ranges: as memmove
      for i = 1, len do bytes[dst + i] = b:byte(i) end
    end
    assert.are.same(bytes, m.peek(h, 96))
    assert.are.same({ 4294967295, 0 }, { add_sum(h, nil, 1 / 0), add_sum(h) }) -- inf saturates
    FreeBuffer(h)
  end)

  it("Memset fills with the low 8 bits of the truncated number; CharsToBuffer adds no terminator", function()
    -- Past the 64-bit range a number saturates first; NaN and non-numbers give 0.
    local h = MallocBuffer(4)
    for _, row in ipairs({ { 65.9, 0x41 }, { -1, 0xFF }, { 256, 0 }, { 4294967295, 0xFF }, { -0.5, 0 },
      { "0x7f", 0x7F }, { "x", 0 }, { nil, 0 }, { 1e300, 0xFF }, { -1e300, 0 }, { 1 / 0, 0xFF }, { 0 / 0, 0 } }) do
      Memset(h, 0x33, 4)
      assert.are.equal(3, Memset(h, row[1], 3))
      assert.are.same({ row[2], row[2], row[2], 0x33 }, m.peek(h, 4), tostring(row[1]))
    end
    assert.are.equal("ab\0cd", CharsToBuffer(GetBuffer(h, 1), "ab\0cd")) -- up to its first zero byte
    CharsToBuffer(h, 7) -- a number is written as its text
    assert.are.same({ 55, 97, 98, 0x33 }, m.peek(h, 4))
    FreeBuffer(h)
  end)

  it("getters read unsigned little-endian values, setters store the low bits", function()
    local bytes = m.rand_bytes(40)
    local h = m.block(bytes)
    local mid = GetBuffer(h, 20)
    for _ = 1, 500 do
      local width, v = math.random(2) * 2, math.floor(math.random() * 2 ^ 40) - 2 ^ 39
      local at = math.random(-20, 20 - width)
      assert.are.equal(m.le(bytes, 21 + at, width), _G["GetInt" .. 8 * width .. "FrmMem"](mid, at))
      assert.are.equal(v, _G["SetInt" .. 8 * width .. "FrmMem"](mid, at, v))
      m.put_le(bytes, 21 + at, width, v)
    end
    assert.are.same(bytes, m.peek(h, 40))
    -- The 32-bit ones truncate their numbers toward zero, to 64 bits (saturating), low 32 used: inf is -1.
    assert.are.same({ m.le(bytes, 3, 4), m.le(bytes, 20, 4) }, { GetInt32FrmMem(h, 2.9), GetInt32FrmMem(mid, 1 / 0) })
    for i, v in ipairs({ 2.9, -2.9, 4294967296, 1e300 }) do SetInt32FrmMem(h, 4 * i - 4, v) end
    assert.are.same({ 2, 0, 0, 0, 254, 255, 255, 255, 0, 0, 0, 0, 255, 255, 255, 255 }, m.peek(h, 16))
    FreeBuffer(h)
  end)
end)

describe("bit fields", function()
  -- Mask of nbits mod 32 bits, shift of ofst mod 32; a set loses the bits past the container's `bits`.
  local function get_field(c, ofst, nbits) return math.floor(c / 2 ^ (ofst % 32)) % 2 ^ (nbits % 32) end
  local function set_field(c, bits, ofst, nbits, val)
    local s = ofst % 32
    local keep = math.max(0, math.min(nbits % 32, bits - s))
    return c + (val % 2 ^ keep - math.floor(c / 2 ^ s) % 2 ^ keep) * 2 ^ s
  end

  it("of bytes and of words (at word index * 4) match the model at any offset and width 0 .. 40", function()
    -- The handle sits at an odd address mid-block: negative indexes stay inside, words are unaligned.
    local N, MID = 72, 33
    local bytes = m.rand_bytes(N)
    local h = m.block(bytes)
    local mid = GetBuffer(h, MID)
    for _ = 1, 6000 do
      local ofst, nbits, val = math.random(-70, 70), math.random(0, 40), math.floor(math.random() * 2 ^ 40) - 2 ^ 39
      local w = math.random(2) == 1 and 4 or 1 -- the container's bytes
      local i = w == 4 and math.random(-8, 8) or math.random(-MID, N - MID - 1)
      local at, kind, c = MID + w * i + 1, w == 4 and "Int" or "Byte", m.le(bytes, MID + w * i + 1, w)
      assert.are.equal(get_field(c, ofst, nbits), _G["Get" .. kind .. "BitsFrmMem"](mid, i, ofst, nbits))
      assert.is_true(_G["Set" .. kind .. "BitsFrmMem"](mid, i, ofst, nbits, val))
      m.put_le(bytes, at, w, set_field(c, 8 * w, ofst, nbits, val))
    end
    assert.are.same(bytes, m.peek(h, N))
    FreeBuffer(h)
  end)
end)

describe("edges", function()
  it("SetInt8FrmMem and calc_crc32 print their traces on every call, in order with io.write", function()
    child([[
      local h = MallocBuffer(16)
      CharsToBuffer(h, "123456789")
      io.write(tostring(h):sub(11), "\n[")
      local r = SetInt8FrmMem(h, 9, 300) io.write("]", r, "\n")
      SetInt8FrmMem(h, 10, -1) SetInt8FrmMem(h, 11, 4294967296 + 65) io.write("\n", GetMemValue(h, 9, 3), "\n")
      for _, n in ipairs({ 9.9, 2 ^ 32 + 9, 0 / 0 }) do io.write("[") r = calc_crc32(h, n) io.write("]", r, "\n") end
      FreeBuffer(h)
    ]], function(out)
      local a = out:match("^[^\n]*") -- the handle as %p prints it
      local crc = "[l_calc_crc32, pBuffer = " .. a .. ", nLen = %d, crc32 = %s]%s\n" -- the check value of "123456789"
      return a .. "\n[" .. a .. ", 9, 300, =44]300\n" .. a .. ", 10, 4294967295, =255" .. a .. ", 11, 65, =65\n2cff41\n"
        .. crc:format(9, "3421780262", "3421780262"):rep(2) .. crc:format(0, "0", "0")
    end)
  end)

  it("null handles and negative counts touch nothing and push what a valid call pushes", function()
    -- Arguments are evaluated before show writes, so the traces come first; glibc prints a null %p as (nil).
    local row = "l_calc_crc32, pBuffer = (nil), nLen = 10, crc32 = 0(nil), 3, 7, =0"
      .. "4 4 4 0 0 [] ab cd ef 0 0 0 0 0 5 6 true true 99 0 7\n"
    child([[
      local function show(...) io.write(table.concat({ ... }, " "), "\n") end
      local h, b = MallocBuffer(8), MallocBuffer(8)
      Memset(h, 0x11, 8) Memset(b, 0x22, 8)
      for i = 1, 3 do
        local null = ({ nil, 5, "text" })[i]
        FreeBuffer(null)
        show(Memcpy(null, h, 4), Memcpy(h, null, 4), Memset(null, 1, 4), Memcmp(null, h, 4), Memcmp(h, null, 4),
          "[" .. BufferToString(null, 4) .. GetMemValue(null, 1, 4) .. BufferToChars(null, 0, 4) .. "]",
          StringtoBuffer(null, "ab"), SetMemValue(null, 1, "cd"), CharsToBuffer(null, "ef"), GetInt32FrmMem(null, 0),
          GetInt16FrmMem(null, 0), GetInt8FrmMem(null, 0), GetByteBitsFrmMem(null, 0, 0, 8),
          GetIntBitsFrmMem(null, 0, 0, 8), SetInt32FrmMem(null, 0, 5), SetInt16FrmMem(null, 0, 6),
          tostring(SetByteBitsFrmMem(null, 0, 0, 8, 1)), tostring(SetIntBitsFrmMem(null, 0, 0, 8, 1)),
          add_sum(null, 10, 99), calc_crc32(null, 10), SetInt8FrmMem(null, 3, 7))
      end
      for _, n in ipairs({ -1, -8, 4294967295, -2147483648 }) do
        Memcpy(h, b, n) Memset(h, 0, n) Memcpy(GetBuffer(h, 1), h, n)
        show(Memcmp(h, b, n), "[" .. BufferToString(h, n) .. GetMemValue(h, 0, n) .. BufferToChars(h, 0, n) .. "]")
      end
      show(BufferToString(h, 8))
      FreeBuffer(h) FreeBuffer(b) FreeBuffer()
    ]], row:rep(3) .. ("0 []\n"):rep(4) .. "1111111111111111\n")
  end)
end)
