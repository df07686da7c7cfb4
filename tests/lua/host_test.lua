-- The vodudid host: loading, arguments, errors and exit statuses.
local support = require("support")
local q = support.quote

describe("vodudid host", function()
  local dir
  before_each(function() dir = support.tmpdir() end)
  after_each(function() support.rmtree(dir) end)

  it("runs a script with arg set as the lua interpreter sets it", function()
    local script = dir .. "/s.lua"
    support.writefile(script, [[
      DebugTrace(table.concat({ arg[-2] ~= nil and "opts" or "none", arg[0], arg[1], arg[2], select("#", ...) }, ","))
    ]])
    local out, err, rc = support.run_host("-e " .. q("x = 1") .. " " .. q(script) .. " a b")
    assert.are.same({ "opts," .. script .. ",a,b,2\n", "", 0 }, { out, err, rc })
  end)

  it("runs -e chunks in order and reads a script from standard input", function()
    local out, _, rc = support.sh("printf 'DebugTrace(\"from stdin\")' | " .. q(support.host)
      .. " -e " .. q('io.write("one ")') .. " -e " .. q('io.write("two ")') .. " -")
    assert.are.equal("one two from stdin\n", out)
    assert.are.equal(0, rc)
  end)

  it("flushes the library's output into a pipe before exiting", function()
    -- Lots of small C stdio writes into a pipe: all of them must arrive.
    local p = io.popen(q(support.host) .. " -e " ..
      q('for i = 1, 20000 do DebugTrace(i) end') .. "; echo rc=$?")
    local out = p:read("*a")
    p:close()
    local _, lines = out:gsub("\n", "")
    assert.are.equal(20001, lines)
    assert.are.equal("19999\n20000\nrc=0\n", out:sub(-17))
  end)

  it("reports a Lua error with a traceback and status 1", function()
    local out, err, rc = support.run_host("-e " .. q('local function f() error("boom") end f()'))
    assert.are.equal("", out)
    assert.are.equal(1, rc)
    assert.is_truthy(err:find("^vodudid: %(command line%):1: boom\nstack traceback:\n"), err)
    out, err, rc = support.run_host(q(dir .. "/missing.lua"))
    assert.are.equal(1, rc)
    assert.is_truthy(err:find("^vodudid: cannot open " .. dir:gsub("%p", "%%%0") .. "/missing.lua"), err)
  end)

  it("names the path and the loader's error when the library is missing", function()
    local out, err, rc = support.run_host("--lib " .. q(dir .. "/nolib.so") .. " -e 'DebugTrace(1)'")
    assert.are.equal("", out)
    assert.are.equal(2, rc)
    assert.is_truthy(err:find("vodudid: cannot load library '" .. dir .. "/nolib.so': ", 1, true), err)
    -- A shared object without the entry.
    _, err, rc = support.run_host("--lib " .. q(support.sh("ls /lib/x86_64-linux-gnu/libm.so.6"):gsub("\n", ""))
      .. " -e 'DebugTrace(1)'")
    assert.are.equal(2, rc)
    assert.is_truthy(err:find("no l_RegAllFun in '/lib/x86_64-linux-gnu/libm.so.6'", 1, true), err)
  end)

  it("loads the library beside itself by default, or the one given", function()
    local out, _, rc = support.run_host("-e 'DebugTrace(Int64Add(1, 0, 2, 0))'", { cd = dir })
    assert.are.same({ "3\n", 0 }, { out, rc })
    out, _, rc = support.run_host("--lib " .. q(support.lib) .. " -e 'DebugTrace(7)'", { cd = dir })
    assert.are.same({ "7\n", 0 }, { out, rc })
  end)
end)
