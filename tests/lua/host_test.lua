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
    local misuse = " -e " .. q('print((pcall(Memset, "text", 0, 4)))') -- no handle: refused when checking
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

  it("prompts on a terminal, -v and -h; --help, the man page and the README list the same options", function()
    -- The terminal echoes the typed lines, all at once, wherever they fall among the host's output.
    local typed = "=Int64Add(1, 0, 2, 0)\nx = \n 5\n=x\n"
    local tty = "printf " .. q(typed) .. " | script -qec %s /dev/null | tr -d '\\r'"
    for _, row in ipairs({ -- name, shell command (%s: the host), its stdout
      { "prompt", tty, "vodudid 1.0.0\n> 3\t0\n> >> > 5\n> \n" }, { "-v alone", "%s -v", "vodudid 1.0.0\n" },
      { "-v and -e", "%s -e 'print(1)' --version", "vodudid 1.0.0\n1\n" },
    }) do
      local cmd = row[2]:format(q(support.host))
      local out = support.sh(cmd)
      local at = out:find(typed, 1, true)
      if at then out = out:sub(1, at - 1) .. out:sub(at + #typed) end
      assert.are.same({ row[1], row[3] }, { row[1], out })
    end
    local function options(text) local t = {} for o in text:gmatch("%f[%w-]%-%-?%a[%w]*") do t[o] = true end return t end
    local help, _, rc = support.sh(q(support.host) .. " -h")
    local man = support.readfile(support.source .. "/man/vodudid.1"):gsub("\\%-", "-"):match("%.SH OPTIONS(.-)%.SH")
    local usage = support.readfile(support.source .. "/README.md"):match("### The `vodudid` host\n\n```text\n(.-)```")
    assert.are.same({ options(help), options(help), 0 }, { options(man), options(usage), rc })
  end)

  it("the README's C host shows errors and checked mode's refusals and leaks", function()
    local src = support.readfile(support.source .. "/README.md"):match("```c\n(.-)```")
    support.writefile(dir .. "/host.c", src)
    local _, err, rc = support.sh(("env -u LD_PRELOAD %s -o %s/host %s/host.c $(pkg-config --cflags --libs %s) -ldl"):format(
      os.getenv("VODUDID_CC"), q(dir), q(dir), os.getenv("VODUDID_LUA_PC")))
    assert.are.same({ "", 0 }, { err, rc })
    for _, row in ipairs({ -- name, checked, script, stdout, stderr (a pattern), status
      { "success", "", "print(Int64Add(1, 0, 2, 0))", "3\t0\n", "^$", 0 },
      { "Lua error", "", "local function f() error('boom') end f()", "", "^s%.lua:1: boom\nstack traceback:\n.*f", 1 },
      { "refusal", "1", "local h = MallocBuffer(4) FreeBuffer(h) FreeBuffer(h)", "", "^s%.lua:1: FreeBuffer: .*traceback", 1 },
      { "leak", "1", "MallocBuffer(16)", "", "^vodUdid checked: 16%-byte block allocated at s%.lua:1 never freed\n$", 0 },
    }) do
      support.writefile(dir .. "/s.lua", row[3])
      local out, e, status = support.sh(("cd %s && ASAN_OPTIONS=detect_leaks=0 VODUDID_CHECKED=%s ./host s.lua"):format(q(dir), row[2]))
      assert.are.same({ row[1], row[4], true, row[6] }, { row[1], out, e:find(row[5]) ~= nil, status }, e)
    end
  end)
end)
