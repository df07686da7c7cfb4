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

-- Registers into a fresh environment whose stores are recorded through
-- __newindex, and returns the names in store order with the values stored.
local function record_registration(calls)
  local code = [[
    local order, seen = {}, {}
    setmetatable(_G, { __newindex = function(t, k, v)
      order[#order + 1] = k
      seen[k] = v
      rawset(t, k, v)
    end })
    local entry = assert(package.loadlib(os.getenv("VODUDID_LIB"), "l_RegAllFun"))
    for i = 1, ]] .. calls .. [[ do
      local a, b, c = entry(10, "x", nil)
      io.write("result ", tostring(a), " ", tostring(b), " ", tostring(c), "\n")
    end
    for i, k in ipairs(order) do io.write(k, " ", type(seen[k]), "\n") end
  ]]
  -- Plain interpreter without the preload: the entry is called by the script.
  local script = os.tmpname()
  support.writefile(script, code)
  local out, err, rc = support.sh(support.quote(support.lua) .. " " .. support.quote(script))
  os.remove(script)
  return out, err, rc
end

describe("l_RegAllFun", function()
  it("stores the 48 globals once each, in order, as functions", function()
    local out, err, rc = record_registration(1)
    assert.are.equal("", err)
    assert.are.equal(0, rc)
    local lines = {}
    for line in out:gmatch("[^\n]+") do lines[#lines + 1] = line end
    -- Called as a Lua function with three arguments, the entry returns 1 and
    -- so hands back its last argument: it pushed nothing that stayed.
    assert.are.equal("result nil nil nil", lines[1])
    local names = {}
    for i = 2, #lines do
      local name, kind = lines[i]:match("^(%S+) (%S+)$")
      assert.are.equal("function", kind)
      names[#names + 1] = name
    end
    assert.are.same(expected, names)
  end)

  it("replaces the functions when called twice on one state", function()
    local out, _, rc = record_registration(2)
    assert.are.equal(0, rc)
    -- Only the first round goes through __newindex: the second finds the
    -- names present and replaces them with raw stores.
    local count = select(2, out:gsub("function\n", ""))
    assert.are.equal(#expected, count)
    local out2 = support.run([[
      local entry = assert(package.loadlib(os.getenv("VODUDID_LIB"), "l_RegAllFun"))
      entry()
      io.write(DebugTrace("still works"), "|", tostring(Int64Add(1, 0, 2, 0)), "\n")
    ]])
    assert.are.equal("still works\nstill works|3\n", out2)
  end)
end)
