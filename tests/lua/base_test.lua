-- The base globals: diagnostics, "Exit", and 64-bit values in halves.
local support = require("support")
support.load()

local TWO32 = 4294967296

describe("diagnostics", function()
  it("print exactly, in call order with Lua's output, and hand back what the convention says", function()
    local x512, y488 = string.rep("x", 512), string.rep("y", 488)
    local out, err, rc = support.run([[
      local function show(...) io.write("=", table.concat({ ... }, ","), "|", type((...)), "\n") end
      show(Exit(1, 2)) show(Exit(7)) io.write(tostring(Exit() == Exit), tostring(Exit(1, nil)), "\n")
      show(DebugTrace(12)) show(DebugTrace(3.5)) DebugTrace("ab\0cd") DebugTrace(nil) DebugTrace()
      io.write("a ") DebugTrace("b") io.write("c ")
      show(MessageBox(nil, "hello", "caption")) show(MessageBox(nil, 42, 5)) show(MessageBox())
      local h = MallocBuffer(1024)
      Memset(h, 0, 1024)
      CharsToBuffer(h, "hello world") TraceBuffer(h, 5) TraceBuffer(h, 0)
      TraceBuffer(h, 4294967296) TraceBuffer(h, 4294967298) TraceBuffer(h, -1) TraceBuffer(h, 4294967295)
      CharsToBuffer(h, "]] .. x512 .. y488 .. [[") TraceBuffer(h, 1000) TraceBuffer(h, 511)
      show(TraceBuffer(nil, 10)) TraceBuffer()
      FreeBuffer(h)
    ]])
    assert.are.same({ "", 0 }, { err, rc })
    assert.are.equal(table.concat({
      "=2|number", "=7|number", "truenil",
      "12", "=12|string", "3.5", "=3.5|string", "ab", "", "",
      "a b", "c hello", "=0|number", "42", "=0|number", "", "=0|number",
      "hello", "", "", "he", "", "", x512, x512:sub(1, 511),
      "", "=10|number", "", "",
    }, "\n"), out)
  end)

  it("MessageBox refuses a caption that is no string, number or nil, printing nothing", function()
    for _, v in ipairs({ { "{}", "table" }, { "true", "boolean" } }) do
      local out, err, rc = support.run('MessageBox(nil, "never", ' .. v[1] .. ')')
      assert.are.equal("", out)
      assert.are_not.equal(0, rc)
      assert.is_truthy(err:find("bad argument #3 to 'MessageBox' (string expected, got " .. v[2] .. ")", 1, true), err)
    end
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
  return lo % TWO32, (ah + bh + (lo >= TWO32 and 1 or 0)) % TWO32
end
local function model_dec(al, ah, bl, bh)
  local lo = al - bl
  return lo % TWO32, (ah - bh - (lo < 0 and 1 or 0)) % TWO32
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
      assert.are.same({ model_add(al, ah, bl, bh) }, { Int64Add(a, b, c, d) })
      assert.are.same({ model_dec(al, ah, bl, bh) }, { Int64Dec(a, b, c, d) })
      assert.are.equal(model_cmp(al, ah, bl, bh), CompareInt64(a, b, c, d))
    end
    -- Without arguments: two zero values.
    assert.are.same({ 1, 0, 0 }, { CompareInt64(), Int64Add() })
  end)
end)
