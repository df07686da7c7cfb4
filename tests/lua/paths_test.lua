-- The path globals, mostly from children of the stock interpreter.
local support = require("support")
support.load()
local q = support.quote

local function sh(cmd) return (support.sh(cmd):gsub("\n.*", "")) end -- first line

-- Creates a directory path of exactly len bytes below base (short components).
local function deep_dir(base, len)
  local p = base
  while len - #p > 101 do p = p .. "/" .. string.rep("d", 50) end
  p = p .. "/" .. string.rep("d", len - #p - 1)
  sh("mkdir -p " .. q(p))
  return p
end

local base -- physical, so that it is what getcwd and readlink report
before_each(function() base = sh("readlink -f " .. q(support.tmpdir())) end)
after_each(function() support.rmtree(base) end)

-- The stock interpreter, and copies at paths of 259 bytes and 260 (too long).
for _, len in ipairs({ 0, 259, 260 }) do
  it("GetExecPath for an executable path of length " .. len, function()
    local lua = sh("readlink -f " .. q(support.lua))
    local exe = len > 0 and deep_dir(base, len - 4) .. "/lua" or lua
    if exe ~= lua then sh("cp " .. q(lua) .. " " .. q(exe)) end
    local out, err, rc = support.sh(q(exe) .. " -e " .. q("assert(package.loadlib("
      .. "os.getenv('VODUDID_LIB'), 'l_RegAllFun'))() io.write(GetExecPath())"))
    assert.are.equal(0, rc, err)
    assert.are.equal(len < 260 and exe:match("^.*/") or ".\\", out)
    assert.is_truthy(err:match(len < 260 and "^$" or "^readlink failed:: [^\n]*\n$"), err)
  end)
end

it("GetCurrentDirectory, SetCurrentDirectory and missing arguments", function()
  local d259, d260, gone = deep_dir(base, 259), deep_dir(base, 260), deep_dir(base, #base + 5)
  local function lit(s) return string.format("%q", s) end
  -- Each row: the argument, what the call hands back, the directory after it.
  local rows = { { '"missing"', "missing", base }, { "nil", "nil", base },
    { "", "function", base }, { "{}", "table", base }, { lit(d259), d259, d259 },
    { lit(d260), d260, "" }, { lit(gone), gone, gone } }
  local code, want = "", ""
  for _, r in ipairs(rows) do
    code = code .. "step(SetCurrentDirectory(" .. r[1] .. ")) "
    want = want .. r[2] .. "|" .. r[3] .. "\n"
  end
  local out, err, rc = support.run(string.format([[
    function step(r) io.write(type(r) == "string" and r or type(r), "|", GetCurrentDirectory(), "\n") end
    %s assert(os.remove(%q)) step("removed")
    io.write(GetFileNameFromPath(), GetFileNameFromPath(nil), GetFileNameFromPath({}), "[]")
  ]], code, gone), { cd = base })
  assert.are.same({ want .. "removed|\n[]", "", 0 }, { out, err, rc })
end)

it("GetFileNameFromPath", function()
  local rows = { { "/usr/local/bin/tool", "tool" }, { "/file", "" }, { "C:\\dir\\file.txt", "" },
    { "ab/cd\0/ef", "cd" }, { 12, "" }, { 3.5, "" } } -- a number is taken as its text
  for _, row in ipairs(rows) do
    assert.are.equal(row[2], GetFileNameFromPath(row[1]), string.format("%q", row[1]))
  end
end)
