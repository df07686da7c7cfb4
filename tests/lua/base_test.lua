-- The base globals: diagnostics, "Exit", and 64-bit values in halves.
local support = require("support")
support.load()

local TWO32 = 4294967296

describe("result convention", function()
  it("hands back the last argument when nothing is pushed", function()
    assert.are.equal(2, Exit(1, 2))
    assert.are.equal(7, Exit(7))
    assert.are.equal(Exit, Exit())
    assert.is_nil(Exit(1, nil))
  end)

  it("returns a number argument read as text in its string form", function()
    local out = support.run([[
      local r = DebugTrace(12)
      io.write(type(r), " ", r, "\n")
      r = DebugTrace(3.5)
      io.write(type(r), " ", r, "\n")
    ]])
    assert.are.equal("12\nstring 12\n3.5\nstring 3.5\n", out)
  end)
end)

describe("DebugTrace and MessageBox", function()
  -- Each row: script, expected stdout, expected stderr prefix (nil: empty).
  local rows = {
    { 'io.write(DebugTrace("abc"), "\\n")', "abc\nabc\n" },
    { 'DebugTrace("ab\\0cd")', "ab\n" },
    { "DebugTrace(nil) DebugTrace()", "\n\n" },
    { 'io.write(MessageBox(nil, "hello"), "\\n")', "hello\n0\n" },
    { 'io.write(MessageBox(nil, "hello", "caption"), "\\n")', "hello\n0\n" },
    { 'io.write(MessageBox(nil, "hi", 5), "\\n")', "hi\n0\n" },
    { 'io.write(MessageBox(nil, 42, nil), "\\n")', "42\n0\n" },
    { 'io.write(MessageBox(), "\\n")', "\n0\n" },
    { 'MessageBox(nil, "never", {})', "",
      "bad argument #3 to 'MessageBox' (string expected, got table)" },
    { 'MessageBox(nil, "never", true)', "",
      "bad argument #3 to 'MessageBox' (string expected, got boolean)" },
  }
  for _, row in ipairs(rows) do
    it(row[1], function()
      local out, err, rc = support.run(row[1])
      assert.are.equal(row[2], out)
      if row[3] then
        assert.are_not.equal(0, rc)
        assert.is_truthy(err:find(row[3], 1, true), err)
      else
        assert.are.equal("", err)
        assert.are.equal(0, rc)
      end
    end)
  end

  it("interleaves with Lua's own output in call order", function()
    local out = support.run([[
      io.write("a ") DebugTrace("b") io.write("c ") MessageBox(nil, "d")
    ]])
    assert.are.equal("a b\nc d\n", out)
  end)
end)

describe("TraceBuffer", function()
  local function trace(setup)
    return support.run([[
      local h = MallocBuffer(1024)
      Memset(h, 0, 1024)
      ]] .. setup .. [[
      FreeBuffer(h)
    ]])
  end

  it("prints up to the first zero byte of at most count bytes", function()
    assert.are.equal("hello\n", trace('CharsToBuffer(h, "hello world") TraceBuffer(h, 5)'))
    assert.are.equal("hel\n", trace('CharsToBuffer(h, "hel\\0lo") TraceBuffer(h, 100)'))
    assert.are.equal("\n", trace('CharsToBuffer(h, "hello") TraceBuffer(h, 0)'))
  end)

  it("never shows more than 512 bytes", function()
    local a, b = string.rep("x", 512), string.rep("y", 488)
    local out = trace('CharsToBuffer(h, "' .. a .. b .. '") TraceBuffer(h, 1000)')
    assert.are.equal(a .. "\n", out)
    out = trace('CharsToBuffer(h, "' .. a .. b .. '") TraceBuffer(h, 511)')
    assert.are.equal(a:sub(1, 511) .. "\n", out)
  end)

  it("takes the low 32 bits of the count; negative counts copy nothing", function()
    assert.are.equal("\n", trace('CharsToBuffer(h, "abc") TraceBuffer(h, 4294967296)'))
    assert.are.equal("ab\n", trace('CharsToBuffer(h, "abc") TraceBuffer(h, 4294967298)'))
    assert.are.equal("\n", trace('CharsToBuffer(h, "abc") TraceBuffer(h, -1)'))
    assert.are.equal("\n", trace('CharsToBuffer(h, "abc") TraceBuffer(h, 4294967295)'))
  end)

  it("prints an empty line for a null handle and hands back the count", function()
    local out, err, rc = support.run('io.write(TraceBuffer(nil, 10), "\\n") TraceBuffer()')
    assert.are.equal("\n10\n\n", out)
    assert.are.equal("", err)
    assert.are.equal(0, rc)
  end)
end)

-- An independent model of 64-bit two's-complement values as halves, in
-- doubles (exact below 2^53).
local function norm(x)
  x = x >= 0 and math.floor(x) or math.ceil(x) -- lua_tointeger truncates
  return x % TWO32
end
local function model_add(al, ah, bl, bh)
  local lo = al + bl
  local carry = lo >= TWO32 and 1 or 0
  return lo % TWO32, (ah + bh + carry) % TWO32
end
local function model_dec(al, ah, bl, bh)
  local lo = al - bl
  local borrow = lo < 0 and 1 or 0
  return lo % TWO32, (ah - bh - borrow) % TWO32
end
local function model_cmp(al, ah, bl, bh)
  local sa = ah >= 2 ^ 31 and ah - TWO32 or ah
  local sb = bh >= 2 ^ 31 and bh - TWO32 or bh
  if sa ~= sb then return sa < sb and 0 or 2 end
  if al ~= bl then return al < bl and 0 or 2 end
  return 1
end

describe("64-bit halves", function()
  local edges = { 0, 1, 2, 2 ^ 31 - 1, 2 ^ 31, 2 ^ 32 - 1, 2 ^ 32 - 2, -1, -2, 2 ^ 32, 2 ^ 32 + 5, 3.7, -3.7 }
  local function pick()
    if math.random() < 0.4 then return edges[math.random(#edges)] end
    return math.random(0, 65535) * 65536 + math.random(0, 65535)
  end

  it("add, subtract and compare like two's-complement arithmetic", function()
    math.randomseed(1234)
    for _ = 1, 5000 do
      local a, b, c, d = pick(), pick(), pick(), pick()
      local al, ah, bl, bh = norm(a), norm(b), norm(c), norm(d)
      local lo, hi = Int64Add(a, b, c, d)
      local ml, mh = model_add(al, ah, bl, bh)
      assert.are.same({ ml, mh }, { lo, hi })
      lo, hi = Int64Dec(a, b, c, d)
      ml, mh = model_dec(al, ah, bl, bh)
      assert.are.same({ ml, mh }, { lo, hi })
      assert.are.equal(model_cmp(al, ah, bl, bh), CompareInt64(a, b, c, d))
    end
  end)

  it("works on zero values without arguments and returns two results", function()
    assert.are.equal(1, CompareInt64())
    assert.are.equal(2, select("#", Int64Add()))
    assert.are.same({ 0, 0 }, { Int64Dec() })
    assert.are.same({ 4294967295, 4294967295 }, { Int64Dec(0, 0, 1, 0) })
  end)
end)
