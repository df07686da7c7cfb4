-- The vodudid host: arg as lua5.1 sets it, loading, options, errors and exit statuses.
local support = require("support")
local q = support.quote

describe("vodudid host", function()
  local dir
  before_each(function() dir = support.tmpdir() end)
  after_each(function() support.rmtree(dir) end)

  it("sets arg when and as lua5.1 does", function()
    local s = q(dir .. "/s.lua")
    support.writefile(dir .. "/s.lua", [[
      local n = 0
      while arg and arg[n - 1] ~= nil do n = n - 1 end
      print(type(arg), n, arg and arg[0], arg and #arg, select("#", ...), ...)]])
    local e = "-e " .. q('io.write(type(arg), " ")')
    for _, row in ipairs({ -- name, command-line tail, standard input
      { "script and arguments", e .. " " .. s .. " a b" }, { "- reads standard input", e .. " - a", s },
      { "standard input without -", "", s }, { "-e alone", e }, { "-- before the script", "-- " .. s .. " c" },
    }) do
      local input = row[3] and (" < " .. row[3]) or ""
      local want = support.sh(q(support.lua51) .. " " .. row[2] .. input)
      assert.are.same({ row[1], want, "", 0 }, { row[1], support.sh(q(support.host) .. " " .. row[2] .. input) })
    end
  end)

  it("flushes the library's output into a pipe before exiting", function()
    -- Lots of small C stdio writes into a pipe: all of them must arrive.
    local p = io.popen(q(support.host) .. " -e " .. q('for i = 1, 20000 do DebugTrace(i) end') .. "; echo rc=$?")
    local out = p:read("*a")
    p:close()
    assert.are.same({ 20001, "19999\n20000\nrc=0\n" }, { select(2, out:gsub("\n", "")), out:sub(-17) })
  end)

  it("loads, checks and reports errors on stderr with the status they deserve", function()
    local libm, run = "/lib/x86_64-linux-gnu/libm.so.6", " -e 'DebugTrace(Int64Add(1, 0, 2, 0))'"
    local misuse = " -e " .. q('print((pcall(CopyFile, "none", "a b")))') -- a blank: refused when checking
    for _, row in ipairs({ -- name, arguments, stdout, stderr start (plain text), status
      { "the library beside the host", run, "3\n", "", 0 },
      { "the library given", "--lib " .. q(support.lib) .. run, "3\n", "", 0 },
      { "checking off", misuse, "true\n", "", 0 }, { "--checked", "--checked" .. misuse, "false\n", "", 0 },
      { "Lua error", "-e " .. q('local function f() error("boom") end f()'), "",
        "vodudid: (command line):1: boom\nstack traceback:\n", 1 },
      { "missing script", q(dir .. "/missing.lua"), "", "vodudid: cannot open " .. dir .. "/missing.lua", 1 },
      { "missing library", "--lib " .. q(dir .. "/nolib.so") .. run, "",
        "vodudid: cannot load library '" .. dir .. "/nolib.so': " .. dir .. "/nolib.so: cannot open", 2 },
      { "no entry", "--lib " .. libm .. run, "", "vodudid: no l_RegAllFun in '" .. libm .. "'", 2 },
    }) do
      local out, err, rc = support.sh(("cd %s && env -u VODUDID_CHECKED %s %s"):format(q(dir), q(support.host), row[2]))
      assert.are.same({ row[1], row[3], row[4], row[5] }, { row[1], out, err:sub(1, #row[4]), rc })
    end
  end)
end)
