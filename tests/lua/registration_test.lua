-- What l_RegAllFun installs, in which order, and what it leaves behind.
local support = require("support")

-- Every global of the library in registration order: the base functions,
-- then the path, buffer and file families.
local expected = {
  "MessageBox", "Exit", "DebugTrace", "TraceBuffer",
  "CompareInt64", "Int64Add", "Int64Dec",
  "GetExecPath", "GetCurrentDirectory", "SetCurrentDirectory", "GetFileNameFromPath",
  "MallocBuffer", "FreeBuffer", "GetBuffer", "Memcpy", "Memset", "Memcmp",
  "BufferToString", "StringtoBuffer", "GetMemValue", "SetMemValue",
  "BufferToChars", "CharsToBuffer",
  "GetInt32FrmMem", "SetInt32FrmMem", "GetInt16FrmMem", "SetInt16FrmMem",
  "GetByteBitsFrmMem", "SetByteBitsFrmMem", "GetIntBitsFrmMem", "SetIntBitsFrmMem",
  "GetInt8FrmMem", "SetInt8FrmMem",
  "calc_crc32", "add_sum",
  "fopen", "fseek", "fwrite", "fread", "fclose", "fgetALine",
  "LFopen", "LFseek", "LFwrite", "LFread", "LFclose", "DeleteFile", "CopyFile",
}

describe("l_RegAllFun", function()
  it("stores the 48 globals once each, in order, as functions, twice over", function()
    -- Stores into new names go through __newindex, so the recorder sees
    -- every one of the first call; the second call replaces them in place.
    local script = os.tmpname()
    support.writefile(script, [[
      setmetatable(_G, { __newindex = function(t, k, v)
        io.write(k, " ", type(v), "\n")
        rawset(t, k, v)
      end })
      local entry = assert(package.loadlib(os.getenv("VODUDID_LIB"), "l_RegAllFun"))
      local old = DebugTrace
      io.write("result ", tostring(entry(10, "x", nil)), "\n")
      entry()
      io.write(tostring(old ~= DebugTrace), " ", tostring(DebugTrace("works")), "\n")
    ]])
    local out, err, rc = support.sh(support.quote(support.lua) .. " " .. support.quote(script))
    os.remove(script)
    assert.are.same({ "", 0 }, { err, rc })
    local lines = {}
    for line in out:gmatch("[^\n]+") do lines[#lines + 1] = line end
    local names = {}
    for i = 1, #expected do
      names[i] = lines[i]:match("^(%S+) function$")
    end
    assert.are.same(expected, names)
    -- The entry pushed nothing that stayed: as a Lua function it hands back
    -- its last argument (nil here).
    assert.are.same({ "result nil", "works", "true works" }, { lines[#expected + 1], lines[#expected + 2], lines[#expected + 3] })
    assert.are.equal(#expected + 3, #lines)
  end)
end)
