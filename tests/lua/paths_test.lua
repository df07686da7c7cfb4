-- The path globals in children of the interpreter; the exported path functions themselves are swept
-- against models in paths_test.cpp, plainer calls are the docs' examples and the bad-input catalogue.
local support = require("support")
local q = support.quote

local function sh(cmd) return (support.sh(cmd):gsub("\n.*", "")) end -- first line

local function deep_dir(base, len) -- creates a directory path of exactly len bytes below base
  local p = base
  while len - #p > 101 do p = p .. "/" .. ("d"):rep(50) end
  p = p .. "/" .. ("d"):rep(len - #p - 1)
  sh("mkdir -p " .. q(p))
  return p
end

local base -- physical, so that it is what getcwd and readlink report
before_each(function() base = sh("readlink -f " .. q(support.tmpdir())) end)
after_each(function() support.rmtree(base) end)

it("GetExecPath for copies of the interpreter at paths of 259 bytes and 260 (too long)", function()
  for _, len in ipairs({ 259, 260 }) do -- the interpreter where it is installed: the docs' example
    local exe = deep_dir(base, len - 4) .. "/lua"
    sh("cp " .. q(sh("readlink -f " .. q(support.lua))) .. " " .. q(exe))
    local out, err, rc = support.sh(q(exe) .. " -e " .. q(support.register .. " io.write(GetExecPath())"))
    assert.are.same({ len < 260 and exe:match("^.*/") or ".\\", 0 }, { out, rc }, err)
    assert.is_truthy(err:match(len < 260 and "^$" or "^readlink failed:: [^\n]*\n$"), err)
  end
end)

it("current directory and file names, every call in one child", function()
  local d259, d260, gone = deep_dir(base, 259), deep_dir(base, 260), deep_dir(base, #base + 5)
  local function cd(path) return ("SetCurrentDirectory(%q), GetCurrentDirectory()"):format(path) end
  local rows = { -- call, what it hands back: the path argument, then the current directory
    { "SetCurrentDirectory(nil), type(SetCurrentDirectory({})), GetCurrentDirectory()",
      ('nil "table" %q'):format(base) },
    { cd(d259), ("%q %q"):format(d259, d259) }, { cd(d260), ('%q ""'):format(d260) }, -- too long to show
    { cd(gone), ("%q %q"):format(gone, gone) },
    { ("os.remove(%q), GetCurrentDirectory()"):format(gone), 'true ""' }, -- removed while current
    { 'GetFileNameFromPath("ab/cd\\0/ef"), GetFileNameFromPath(12)', '"cd" ""' },
  }
  support.rows("", rows, "", { cd = base })
end)
