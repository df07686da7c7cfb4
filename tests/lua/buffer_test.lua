-- Blocks, raw memory, typed values and bit fields against plain models whose bytes go around the
-- library (support.peek); traces, null handles and negative counts in one child, one row per call.
-- Other null and negative arguments: the bad-input catalogue (badinput_test.lua).
local support = require("support")
local m = support
support.load()
math.randomseed(3)

it("blocks hold the count rounded up to 16, all writable; 0 and -30 .. -1 give distinct empty blocks", function()
  local seen = { [GetBuffer(nil, 0)] = true }
  for _, n in ipairs({ 1, 15, 16, 17, 33, 0, 0, -1, -30 }) do
    local size, h = n > 0 and 16 * math.ceil(n / 16) or 0, MallocBuffer(n)
    assert.is_nil(seen[h], n)
    seen[h] = true
    Memset(h, 0x5A, size) -- through the library: the sanitizer build traps a block one byte short
    Memset(GetBuffer(h, size - 1), 0xA5, math.min(size, 1))
    if size > 0 then assert.are.equal("\90\165", m.peek(GetBuffer(h, size - 2), 2), n) end
  end
  for h in pairs(seen) do assert.are.equal(h, FreeBuffer(h)) end -- the handle comes back
  if support.sanitize then -- and one byte more is outside, for the sanitizer or, first, for checking
    assert.matches(support.checked and "outside the 32%-byte block" or "heap%-buffer%-overflow",
      select(2, support.run("Memset(GetBuffer(MallocBuffer(17), 32), 1, 1)")))
  end
end)

-- Typed values and bit fields against a byte model: fuzz/typed_fuzz.cpp.
it("copies and compares match the byte model, one random operation at a time", function()
  local N, MID = 96, 33 -- the handle at an odd address mid-block: negative offsets stay inside, words unaligned
  local h, bytes = MallocBuffer(N), m.random_bytes(N, true)
  m.poke(h, bytes)
  local mid = GetBuffer(h, MID)
  local function offset(len) return math.random(-MID, N - MID - len) end -- of len bytes from mid, inside the block
  for _ = 1, 3000 do -- two ranges compared and shown, then one copied over the other (overlapping: as memmove)
    local len = math.random(0, 40)
    local src, dst = offset(len), offset(len)
    local a, b = bytes:sub(MID + dst + 1, MID + dst + len), bytes:sub(MID + src + 1, MID + src + len)
    local got = Memcmp(GetBuffer(mid, dst), GetBuffer(mid, src), len)
    assert.are.equal(a < b and -1 or a > b and 1 or 0, got > 0 and 1 or got < 0 and -1 or 0, "Memcmp") -- unsigned bytes
    assert.are.equal(a:match("^[^%z]*"), BufferToChars(mid, dst, len), "BufferToChars")
    assert.are.equal(len, Memcpy(GetBuffer(mid, dst), GetBuffer(mid, src), len), "Memcpy")
    bytes = bytes:sub(1, MID + dst) .. b .. bytes:sub(MID + dst + len + 1)
  end
  assert.are.equal(bytes, m.peek(h, N))
  FreeBuffer(h)
end)

it("number and text arguments, traces, null handles, negative counts and refused allocations: one row per call", function()
  local crc = "l_calc_crc32, pBuffer = @, nLen = %d, crc32 = %d" -- 3421780262: the check value of "123456789"
  local digits = { ("123456789"):byte(1, -1) } -- h's first bytes
  local h12 = ('"%s2cff41"'):format(m.hex("123456789")) -- h after the three SetInt8FrmMem rows
  local rows = { -- call, what it hands back, what it prints (@: h as %p prints it)
    { "SetInt8FrmMem(h, 9, 300)", "300", "@, 9, 300, =44" }, -- the value as fetched, the byte stored
    { "SetInt8FrmMem(h, 10, -1)", "-1", "@, 10, 4294967295, =255" },
    { "SetInt8FrmMem(h, 11, 4294967296 + 65)", "4294967361", "@, 11, 65, =65" },
    { "GetInt8FrmMem(h, 4294967296 + 9), BufferToString(h, 12)", "44 " .. h12 }, -- the offset's low 32 bits, unsigned:
    support.checked -- 2 GiB back, then forward: checking judges the handle's block, which is none
      and { "(pcall(GetInt8FrmMem, GetBuffer(h, -2147483648), 2147483648))", "false" }
      or { "GetInt8FrmMem(GetBuffer(h, -2147483648), 2147483648)", "49" },
    { "calc_crc32(h, 9.9)", "3421780262", crc:format(9, 3421780262) },
    { "calc_crc32(h, 2 ^ 32 + 9)", "3421780262", crc:format(9, 3421780262) },
    { "calc_crc32(h, 0 / 0)", "0", crc:format(0, 0) },
    -- org plus the words, the tail from its low byte up (the kernel is swept from C++); count and org: low 32 bits
    { "add_sum(h, 9 + 2 ^ 32, 2 ^ 40 - 1)",
      tostring((m.le(digits, 1, 4) + m.le(digits, 5, 4) + digits[9] + 2 ^ 32 - 1) % 2 ^ 32) },
    { "add_sum(h, nil, 1 / 0), add_sum(h)", "4294967295 0" }, -- inf saturates; no words, org 0
    -- Texts go up to their first zero byte, a number as its text; no terminator is written.
    { 'CharsToBuffer(GetBuffer(b, 1), "ab\\0cd"), CharsToBuffer(b, 7), m.hex(m.peek(b, 4))', '"ab\\000cd" "7" "37616233"' },
    -- 32-bit numbers are truncated toward zero to 64 bits, saturating, and cut to their low 32 bits.
    { "SetInt32FrmMem(b, 0, 2.9), SetInt32FrmMem(b, 4, -2.9), m.hex(m.peek(b, 8))", '2.9 -2.9 "02000000feffffff"' },
    { "SetInt32FrmMem(b, 0, 4294967296), SetInt32FrmMem(b, 4, 1e300), m.hex(m.peek(b, 8))",
      '4294967296 1e+300 "00000000ffffffff"' },
    { "GetInt32FrmMem(h, 2.9), GetInt32FrmMem(GetBuffer(h, 1), 1 / 0)", m.le(digits, 3, 4) .. " " .. m.le(digits, 1, 4) },
  }
  -- Hex text in: an odd text with a 0 in front, up to its first zero byte, a number as its text, offsets
  -- reaching back. Random round trips: fuzz/hex_fuzz.cpp; every pair against strtol: memkernels_test.cpp.
  local B4 = "GetBuffer(b, 4)"
  for _, r in ipairs({
    { 'Memset(b, 0xEE, 4), StringtoBuffer(b, ""), StringtoBuffer(b, "g"), BufferToString(b, 4)', '4 "" "g" "00eeeeee"' },
    { 'StringtoBuffer(b, "abc"), StringtoBuffer(GetBuffer(b, 2), "ab\\0cd"), BufferToString(b, 4)',
      '"abc" "ab\\000cd" "0abcabee"' },
    { 'StringtoBuffer(b, 12), StringtoBuffer(GetBuffer(b, 1), 123), StringtoBuffer(GetBuffer(b, 3), "7"), '
      .. "BufferToString(b, 4)", '"12" "123" "7" "12012307"' },
    { ('SetMemValue(%s, -3, "a1B2c3"), SetMemValue(%s, -4, "7"), GetMemValue(%s, -4, 4), BufferToString(b, 0), '
      .. "BufferToString(b)"):format(B4, B4, B4), '"a1B2c3" "7" "07a1b2c3" "" ""' },
    -- A zero byte past the first 64 digits makes the text odd: converted again, paired from its start.
    { '(StringtoBuffer(d, ("fe"):rep(32) .. "d\\0") and BufferToString(d, 33))', ('"0f%sed"'):format(("ef"):rep(31)) } }) do
    rows[#rows + 1] = r
  end
  -- Memset fills with the low 8 bits of the truncated number (NaN and non-numbers are 0).
  for _, v in ipairs({ { "65.9", 0x41 }, { "-1", 0xFF }, { "256", 0 }, { "4294967295", 0xFF }, { "-0.5", 0 },
    { '"0x7f"', 0x7F }, { '"x"', 0 }, { "nil", 0 }, { "1e300", 0xFF }, { "-1e300", 0 }, { "1 / 0", 0xFF }, { "0 / 0", 0 } }) do
    local fill = ("%02x"):rep(3):format(v[2], v[2], v[2])
    rows[#rows + 1] = { ("Memset(c, %s, 3), m.hex(m.peek(c, 4))"):format(v[1]), ('3 "%s33"'):format(fill) }
  end
  -- A null handle is never touched, first argument or second; the traces show it.
  for _, r in ipairs({ { "Memcpy(nil, h, 4), Memcmp(GetBuffer(nil, 0), h, 4), Memcmp(h, nil, 4)", "4 0 0" },
    { "calc_crc32(nil, 10)", "0", "l_calc_crc32, pBuffer = (nil), nLen = 10, crc32 = 0" },
    { "SetInt8FrmMem(nil, 3, 7)", "7", "(nil), 3, 7, =0" } }) do
    rows[#rows + 1] = r
  end
  -- Counts that are negative after the cut to 32 bits move, compare and show nothing.
  for _, v in ipairs({ "-1", "4294967295", "-2147483648" }) do
    for _, c in ipairs({ { "Memcpy(h, b, N)", "N" }, { "Memset(h, 0, N)", "N" }, { "Memcpy(GetBuffer(h, 1), h, N)", "N" },
      { "Memcmp(h, b, N)", "0" }, { "BufferToString(h, N)", '""' }, { "GetMemValue(h, 0, N)", '""' },
      { "BufferToChars(h, 0, N)", '""' }, { "BufferToString(h, 12)", h12 } }) do
      rows[#rows + 1] = { c[1]:gsub("N", v), (c[2]:gsub("N", v)) }
    end
  end
  if not support.sanitize then -- a request the free store cannot meet (ASan aborts on huge requests whatever we do)
    for _, n in ipairs({ -31, -2147483648, 2147483647, 2147483633 }) do
      rows[#rows + 1] = { ("MallocBuffer(%d) == GetBuffer(nil, 0)"):format(n), "true" }
    end
    rows[#rows + 1] = support.checked -- checking sees the 16-byte block asked for 2 GiB
      and { "(pcall(BufferToString, h, 2147483647)), (pcall(GetMemValue, h, 0, 2000000000))", "false false" }
      or { "BufferToString(h, 2147483647), GetMemValue(h, 0, 2000000000)", "nil nil" }
  end
  support.rows([[local m, h, b, d = require("support"), MallocBuffer(16), MallocBuffer(16), MallocBuffer(33)
    local c = GetBuffer(b, 8)
    CharsToBuffer(h, "123456789") Memset(b, 0x33, 16) io.write(tostring(h):sub(11))]], rows,
    "FreeBuffer(h) FreeBuffer(b) FreeBuffer(d)", { prefix = support.sanitize and "" or "ulimit -v 1000000; " })
end)
