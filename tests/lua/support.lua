-- Shared helpers of the Lua tests: load the library into this interpreter,
-- or run a script in a child interpreter and capture exactly what it prints.
local M = {}

M.lib = assert(os.getenv("VODUDID_LIB"), "VODUDID_LIB is not set (run the tests through ctest)")
M.host = os.getenv("VODUDID_HOST")
M.lua = os.getenv("VODUDID_LUA") or "lua5.1" -- the interpreter running the suite
M.lua51 = os.getenv("VODUDID_LUA51") or "lua5.1"
M.luajit = os.getenv("VODUDID_LUAJIT") or "luajit"
M.sanitize = os.getenv("VODUDID_SANITIZE") == "1"
-- Checked mode refuses the rows that make a memory or shell mistake on purpose.
M.checked = os.getenv("VODUDID_CHECKED") == "1"

local registered = false
-- Registers the library's globals into this interpreter, once.
function M.load()
  if not registered then
    assert(package.loadlib(M.lib, "l_RegAllFun"))()
    registered = true
  end
end

function M.quote(s)
  return "'" .. tostring(s):gsub("'", "'\\''") .. "'"
end

function M.readfile(path)
  local f = assert(io.open(path, "rb"))
  local s = f:read("*a")
  f:close()
  return s
end

function M.writefile(path, data)
  local f = assert(io.open(path, "wb"))
  f:write(data)
  f:close()
end

-- A fresh empty directory; removed with M.rmtree.
function M.tmpdir()
  local p = io.popen("mktemp -d")
  local d = p:read("*l")
  p:close()
  return d
end

function M.rmtree(dir)
  os.execute("rm -rf " .. M.quote(dir))
end

-- Runs a shell command line; returns stdout, stderr and the exit status.
function M.sh(cmdline)
  local out, err = os.tmpname(), os.tmpname()
  local p = io.popen(string.format("( %s ) </dev/null >%s 2>%s; echo $?", cmdline, out, err))
  local rc = tonumber(p:read("*a"))
  p:close()
  local o, e = M.readfile(out), M.readfile(err)
  os.remove(out)
  os.remove(err)
  return o, e, rc
end

local preload = "assert(package.loadlib(os.getenv('VODUDID_LIB'), 'l_RegAllFun'))()"

-- Runs `code` as a script in a child lua5.1 with the library registered.
-- opts.cd: directory to run in; opts.prefix: shell text put before the
-- command (umask, environment). Returns stdout, stderr, exit status.
function M.run(code, opts)
  opts = opts or {}
  local script = os.tmpname()
  M.writefile(script, code)
  local cmd = string.format("%s%s%s -e %s %s",
    opts.cd and ("cd " .. M.quote(opts.cd) .. " && ") or "",
    opts.prefix or "",
    M.lua, M.quote(preload), M.quote(script))
  local o, e, rc = M.sh(cmd)
  os.remove(script)
  return o, e, rc
end

-- Runs the vodudid host with the given argument text (already quoted).
function M.run_host(args, opts)
  opts = opts or {}
  return M.sh(string.format("%s%s %s",
    opts.cd and ("cd " .. M.quote(opts.cd) .. " && ") or "",
    M.quote(M.host), args))
end

return M
