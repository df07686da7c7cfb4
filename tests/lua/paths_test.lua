-- The path globals: the executable's directory, the current directory and
-- its change, and the file name of a path.
local support = require("support")
support.load()

local q = support.quote

-- First line of a shell command's output.
local function sh1(cmd)
  local out = support.sh(cmd)
  return (out:gsub("\n.*", ""))
end

-- Runs a shell command that must succeed.
local function shok(cmd)
  local _, err, rc = support.sh(cmd)
  assert(rc == 0, err)
end

-- The physical path of an existing file or directory.
local function realpath(p)
  return sh1("readlink -f " .. q(p))
end

-- Model of the executable's directory: up to and including the last slash.
local function exec_dir(path)
  return path:match("^(.*/)") or ".\\"
end

-- Model of the file-name rule: the text after the rightmost slash, looking
-- no further left than the second byte; the text ends at its first zero.
local function file_name(path)
  path = path:match("^[^%z]*")
  for i = #path, 2, -1 do
    if path:sub(i, i) == "/" then
      return path:sub(i + 1)
    end
  end
  return ""
end

-- A directory path of exactly `len` bytes below `base`, created on disk.
-- Components stay at 100 bytes or less, well under the file system's limit.
local function deep_dir(base, len)
  local p = base
  while #p < len do
    local rest = len - #p -- still to add, the slash included
    local n = math.min(rest, 101)
    if rest - n == 1 then
      n = n - 1 -- never leave room for a lone slash
    end
    p = p .. "/" .. string.rep("d", n - 1)
  end
  assert(#p == len, "cannot make a path of this length")
  shok("mkdir -p " .. q(p))
  return p
end

local preload = "assert(package.loadlib(os.getenv('VODUDID_LIB'), 'l_RegAllFun'))()"

-- Runs `code` in a child of the interpreter `lua` (a path), from directory
-- `cd`, optionally wrapped by a shell prefix. Returns stdout, stderr, status.
local function run_with(lua, code, cd, wrap)
  local script = os.tmpname()
  support.writefile(script, code)
  local cmd = string.format("%s -e %s %s", q(lua), q(preload), q(script))
  if wrap then
    cmd = wrap(cmd)
  end
  local o, e, rc = support.sh("cd " .. q(cd) .. " && " .. cmd)
  os.remove(script)
  return o, e, rc
end

local base -- a physical temporary directory for each test
before_each(function()
  base = realpath(support.tmpdir())
end)
after_each(function()
  support.rmtree(base)
end)

describe("GetExecPath", function()
  it("is the directory of the stock interpreter", function()
    local out, err, rc = support.run("io.write(GetExecPath())", { cd = base })
    assert.are.equal(exec_dir(realpath(support.lua)), out)
    assert.are.equal("", err)
    assert.are.equal(0, rc)
  end)

  it("is the directory of the host", function()
    local out, err = support.run_host("-e " .. q("io.write(GetExecPath())"), { cd = base })
    assert.are.equal(exec_dir(realpath(support.host)), out)
    assert.are.equal("", err)
  end)

  -- An interpreter copied so that its own path has a given length: 259
  -- bytes fit the 260-byte buffer with the terminator, 260 and more do not.
  for _, len in ipairs({ 259, 260 }) do
    it("for an executable path of " .. len .. " bytes", function()
      local leaf = "lua"
      local dir = deep_dir(base, len - 1 - #leaf)
      local exe = dir .. "/" .. leaf
      assert.are.equal(len, #exe)
      shok(string.format("cp %s %s", q(realpath(support.lua)), q(exe)))
      local out, err, rc = run_with(exe, "io.write(GetExecPath())", base)
      assert.are.equal(0, rc, err)
      if len < 260 then
        assert.are.equal(dir .. "/", out)
        assert.are.equal("", err)
      else
        assert.are.equal(".\\", out)
        assert.is_truthy(err:match("^readlink failed:: [^\n]*\n$"), err)
      end
    end)
  end

  it("is dot-backslash when the executable's link cannot be read", function()
    -- Hide /proc in a private mount namespace. The sanitizer runtime needs
    -- /proc itself, and some machines allow no namespaces: skip there.
    local wrap = function(cmd)
      return "unshare -rm sh -c " .. q("mount -t tmpfs none /proc && exec " .. cmd)
    end
    local _, _, probe = support.sh(wrap("true"))
    if support.sanitize or probe ~= 0 then
      pending("no private mount namespace here")
      return
    end
    local out, err, rc = run_with(realpath(support.lua), [[
      local r = GetExecPath()
      io.write(type(r), " ", r)
    ]], base, wrap)
    assert.are.equal(0, rc, err)
    assert.are.equal("string .\\", out)
    assert.is_truthy(err:match("^readlink failed:: [^\n]*\n$"), err)
  end)
end)

describe("GetCurrentDirectory", function()
  -- Each row: length of the directory (nil: the temporary directory itself),
  -- whether it fits the 260-byte buffer with its terminator.
  local rows = { { nil, true }, { 259, true }, { 260, false }, { 1000, false } }
  for _, row in ipairs(rows) do
    it("in a directory of " .. (row[1] or "ordinary") .. " length", function()
      local dir = row[1] and deep_dir(base, row[1]) or base
      local out, err, rc = support.run("io.write(GetCurrentDirectory())", { cd = dir })
      assert.are.equal(0, rc, err)
      assert.are.equal("", err)
      assert.are.equal(row[2] and sh1("cd " .. q(dir) .. " && pwd -P") or "", out)
    end)
  end

  it("is the empty string once the directory was removed", function()
    local dir = base .. "/gone"
    shok("mkdir " .. q(dir))
    local out, err, rc = support.run(string.format([[
      io.write(GetCurrentDirectory(), "\n")
      assert(os.remove(%q))
      local r = GetCurrentDirectory()
      io.write(type(r), ":", r, "\n")
    ]], dir), { cd = dir })
    assert.are.equal(0, rc, err)
    assert.are.equal(dir .. "\nstring:\n", out)
  end)
end)

describe("SetCurrentDirectory", function()
  -- Each row: the call, what it hands back (as the child describes it), and
  -- the directory below base that is current afterwards ("" for base).
  local rows = {
    { 'SetCurrentDirectory("sub")', "string:sub", "/sub" },
    { 'SetCurrentDirectory("sub/inner")', "string:sub/inner", "/sub/inner" },
    { 'SetCurrentDirectory(BASE .. "/sub")', "string:BASE/sub", "/sub" },
    { 'SetCurrentDirectory("missing")', "string:missing", "" },
    { 'SetCurrentDirectory("afile")', "string:afile", "" },
    { 'SetCurrentDirectory("")', "string:", "" },
    { "SetCurrentDirectory(12)", "string:12", "/12" },
    { "SetCurrentDirectory(nil)", "nil:nil", "" },
    { "SetCurrentDirectory({})", "table", "" },
    { "SetCurrentDirectory()", "itself", "" },
    { 'SetCurrentDirectory("sub", "missing")', "string:missing", "/sub" },
  }
  for _, row in ipairs(rows) do
    it(row[1], function()
      shok(string.format("mkdir -p %s %s && touch %s",
        q(base .. "/sub/inner"), q(base .. "/12"), q(base .. "/afile")))
      local code = string.format([[
        BASE = %q
        local r = %s
        if r == SetCurrentDirectory then io.write("itself")
        elseif type(r) == "table" then io.write("table")
        else
          local s = tostring(r)
          if s:sub(1, #BASE) == BASE then s = "BASE" .. s:sub(#BASE + 1) end
          io.write(type(r), ":", s)
        end
        io.write("\n", GetCurrentDirectory())
      ]], base, row[1])
      local out, err, rc = support.run(code, { cd = base })
      assert.are.equal(0, rc, err)
      assert.are.equal("", err)
      assert.are.equal(row[2] .. "\n" .. base .. row[3], out)
    end)
  end

  it("moves where relative paths of the file functions resolve", function()
    shok("mkdir " .. q(base .. "/sub"))
    local _, err, rc = support.run([[
      SetCurrentDirectory("sub")
      local f = assert(io.open("made.txt", "w"))
      f:write("x")
      f:close()
    ]], { cd = base })
    assert.are.equal(0, rc, err)
    assert.are.equal("x", support.readfile(base .. "/sub/made.txt"))
  end)
end)

describe("GetFileNameFromPath", function()
  local paths = {
    "/usr/local/bin/tool", "dir/file.txt", "//x", "file.txt", "/file", "dir/",
    "C:\\dir\\file.txt", "", "/", "//", "a/", "a/b", "ab/", "a/b\\c", "a\\b/c",
    "./x", "../x/y.z", "a//b", "x/\0/y", "ab/cd\0/ef", "a b/c d",
    string.rep("long/", 2000) .. "name",
  }
  it("matches the model for each path", function()
    for _, path in ipairs(paths) do
      assert.are.equal(file_name(path), GetFileNameFromPath(path), string.format("%q", path))
    end
  end)

  it("takes a number in its string form", function()
    assert.are.equal("", GetFileNameFromPath(12))
    assert.are.equal("", GetFileNameFromPath(3.5))
  end)

  it("hands back the empty string for a missing or non-text argument", function()
    assert.are.equal("", GetFileNameFromPath())
    assert.are.equal("", GetFileNameFromPath(nil))
    assert.are.equal("", GetFileNameFromPath({}))
    assert.are.equal("", GetFileNameFromPath(true))
  end)
end)
