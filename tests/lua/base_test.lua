-- The base globals: diagnostics and "Exit" in one child, one row per call (the docs' examples and the
-- bad-input catalogue hold the plainer calls); 64-bit values in halves against arithmetic on doubles.
local support = require("support")
support.load()

it("diagnostics print exactly, in call order with Lua's output, and hand back what the convention says", function()
  local refusal = "\"bad argument #3 to 'MessageBox' (string expected, got boolean)\"" -- without its position
  local rows = { -- call, what it hands back, what it prints
    { "Exit(7)", "7" }, { "Exit(1, nil)", "nil" }, { "DebugTrace(12)", '"12"', "12\n" }, -- a number: its text
    { "DebugTrace(3.5)", '"3.5"', "3.5\n" }, { 'DebugTrace("ab\\0cd")', '"ab\\000cd"', "ab\n" },
    { "DebugTrace(nil)", "nil", "\n" }, { "MessageBox(nil, 42, 5)", "0", "42\n" }, { "MessageBox()", "0", "\n" },
    -- A caption that is no string, number or nil is refused before anything is printed.
    { '(select(2, pcall(function() MessageBox(nil, "never", true) end)):gsub("^.-:%d+: ", ""))', refusal },
    -- At most 512 bytes, up to the first zero; the count's low 32 bits, signed.
    { "TraceBuffer(h, 5)", "5", "hello\n" }, { "TraceBuffer(h, 0)", "0", "\n" },
    { "TraceBuffer(h, 4294967296)", "4294967296", "\n" }, { "TraceBuffer(h, 4294967298)", "4294967298", "he\n" },
    { "TraceBuffer(h, -1)", "-1", "\n" }, { "TraceBuffer(h, 4294967295)", "4294967295", "\n" },
    { "TraceBuffer(w, 1000)", "1000", ("x"):rep(512) .. "\n" }, { "TraceBuffer(w, 511)", "511", ("x"):rep(511) .. "\n" },
    { "TraceBuffer(nil, 10)", "10", "\n" },
  }
  support.rows([[local h, w = MallocBuffer(16), MallocBuffer(1024)
    Memset(h, 0, 16) CharsToBuffer(h, "hello world") CharsToBuffer(w, ("x"):rep(512) .. ("y"):rep(488))]],
    rows, "FreeBuffer(h) FreeBuffer(w)")
end)

it("64-bit halves add, subtract and compare like two's-complement arithmetic", function()
  local TWO32 = 2 ^ 32
  local function half(x) return (x >= 0 and math.floor(x) or math.ceil(x)) % TWO32 end -- lua_tointeger truncates
  local function signed(hi) return hi >= 2 ^ 31 and hi - TWO32 or hi end
  local function compare(ah, al, bh, bl) -- high halves signed, then low halves unsigned; no sum that rounds
    local x, y = signed(ah), signed(bh)
    if x == y then x, y = al, bl end
    return x < y and 0 or x == y and 1 or 2
  end
  local edges = { 0, 1, 2 ^ 31 - 1, 2 ^ 31, 2 ^ 32 - 1, -1, -2, 2 ^ 32, 2 ^ 32 + 5, 3.7, -3.7 }
  local function pick()
    return math.random() < 0.4 and edges[math.random(#edges)] or math.random(0, 65535) * 65536 + math.random(0, 65535)
  end
  math.randomseed(1234)
  for _ = 1, 5000 do
    local a = { pick(), pick(), pick(), pick() }
    local al, ah, bl, bh = half(a[1]), half(a[2]), half(a[3]), half(a[4])
    local sum, dif = al + bl, al - bl
    assert.are.same({ sum % TWO32, (ah + bh + math.floor(sum / TWO32)) % TWO32 }, { Int64Add(unpack(a)) })
    assert.are.same({ dif % TWO32, (ah - bh + math.floor(dif / TWO32)) % TWO32 }, { Int64Dec(unpack(a)) })
    assert.are.equal(compare(ah, al, bh, bl), CompareInt64(unpack(a)))
  end
end)
