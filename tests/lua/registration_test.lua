-- What each way of loading installs, in which order, what it hands back, and that neither way picks up
-- a Lua library planted in the working directory unless the library was built to look there.
local support = require("support")

-- Stores into new names go through __newindex, so the recorder sees every one of the first call; the
-- second call replaces them in place. What the first call hands back is described: nil, or the module
-- table's functions that are the globals, and its _VERSION.
local child = [[
  setmetatable(_G, { __newindex = function(t, k, v) io.write(k, " ", type(v), "\n") rawset(t, k, v) end })
  local entry = ENTRY
  local old, r = DebugTrace, entry(10, "x", nil)
  if type(r) == "table" then
    local n = 0
    for k, v in pairs(r) do n = n + (rawequal(v, _G[k]) and 1 or 0) end
    r = n .. " " .. r._VERSION
  end
  io.write("result ", tostring(r), "\n")
  entry()
  io.write(tostring(old ~= DebugTrace), " ", DebugTrace("works"), "\n")
  io.write(tostring(Exit() == Exit), " ", tostring(FreeBuffer() == FreeBuffer), "\n")
]]
local loadlib = support.register:gsub("%(%)$", "")
local require_ = "function() package.cpath = os.getenv('VODUDID_MODULE_DIR') .. '/?.so'"
  .. " package.loaded.vodUdid = nil return require('vodUdid') end"

describe("loading the library", function()
  if not os.getenv("VODUDID_LUAJIT") then pending("require under luajit: luajit is not installed") end
  it("registers the 48 globals in order through every way, twice over", function()
    local version = support.sh(support.quote(support.host) .. " --version"):match("^vodudid (%S+)\n$")
    local lualib = support.sh("objdump -p " .. support.quote(support.lib)):match("NEEDED%s+(%S*lua%S*)")
    local runpath = os.getenv("VODUDID_CWD_RUNPATH") == "1"
    local rows = { -- name, interpreter, entry, result, planted library loaded
      { "l_RegAllFun by package.loadlib", support.lua, loadlib, "nil", runpath },
      { "require under lua5.1", support.lua51, require_, "48 " .. version, false },
    }
    local luajit = os.getenv("VODUDID_LUAJIT")
    if luajit then rows[#rows + 1] = { "require under luajit", luajit, require_, "48 " .. version, false } end
    local dir = support.tmpdir()
    os.execute("cp " .. support.quote(os.getenv("VODUDID_PLANTED")) .. " " .. support.quote(dir .. "/" .. lualib))
    local script = dir .. "/child.lua"
    for _, row in ipairs(rows) do
      support.writefile(script, (child:gsub("ENTRY", row[3])))
      local out, err, rc = support.sh("cd " .. support.quote(dir) .. " && " .. support.quote(row[2]) .. " child.lua")
      local want = table.concat(support.globals, " function\n") .. " function\nresult " .. row[4]
        .. "\nworks\ntrue works\ntrue true\n"
      assert.are.same({ row[1], want, row[5] and "planted Lua library loaded\n" or "", 0 }, { row[1], out, err, rc })
    end
    support.rmtree(dir)
  end)
end)
