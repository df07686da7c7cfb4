-- Shared helpers of the Lua tests: load the library here or run a script in a child process and capture
-- exactly what it prints; and plain-Lua byte models whose bytes go around the library.
local assert = require("luassert") -- busted's, which a module does not see as a global
local M = {}
M.lib = assert(os.getenv("VODUDID_LIB"), "VODUDID_LIB is not set (run the tests through ctest)")
M.host = os.getenv("VODUDID_HOST")
M.source = os.getenv("VODUDID_SOURCE_DIR") -- the top of the checkout
M.lua = os.getenv("VODUDID_LUA") or "lua5.1" -- the interpreter running the suite
M.lua51 = os.getenv("VODUDID_LUA51") or "lua5.1"
M.sanitize = os.getenv("VODUDID_SANITIZE") == "1"
M.checked = os.getenv("VODUDID_CHECKED") == "1" -- refuses the rows that make a memory or shell mistake
-- Every global of the library in registration order: base, then the path, buffer and file families.
M.globals = { "MessageBox", "Exit", "DebugTrace", "TraceBuffer", "CompareInt64", "Int64Add", "Int64Dec",
  "GetExecPath", "GetCurrentDirectory", "SetCurrentDirectory", "GetFileNameFromPath",
  "MallocBuffer", "FreeBuffer", "GetBuffer", "Memcpy", "Memset", "Memcmp", "BufferToString", "StringtoBuffer",
  "GetMemValue", "SetMemValue", "BufferToChars", "CharsToBuffer", "GetInt32FrmMem", "SetInt32FrmMem",
  "GetInt16FrmMem", "SetInt16FrmMem", "GetByteBitsFrmMem", "SetByteBitsFrmMem", "GetIntBitsFrmMem",
  "SetIntBitsFrmMem", "GetInt8FrmMem", "SetInt8FrmMem", "calc_crc32", "add_sum",
  "fopen", "fseek", "fwrite", "fread", "fclose", "fgetALine",
  "LFopen", "LFseek", "LFwrite", "LFread", "LFclose", "DeleteFile", "CopyFile" }
M.register = "assert(package.loadlib(os.getenv('VODUDID_LIB'), 'l_RegAllFun'))()"

function M.load() -- registers the library's globals into this interpreter, once
  if not MallocBuffer then assert(package.loadlib(M.lib, "l_RegAllFun"))() end
end

function M.quote(s) return "'" .. tostring(s):gsub("'", "'\\''") .. "'" end
function M.rmtree(dir) os.execute("rm -rf " .. M.quote(dir)) end
function M.readfile(path) local f = assert(io.open(path, "rb")) local s = f:read("*a") f:close() return s end
function M.writefile(path, data) local f = assert(io.open(path, "wb")) f:write(data) f:close() end

-- Runs a shell command line without input; returns stdout, stderr and the exit status (128 + signal).
function M.sh(cmdline)
  local out, err = os.tmpname(), os.tmpname()
  local p = io.popen(("( %s ) </dev/null >%s 2>%s; echo $?"):format(cmdline, out, err))
  local rc = tonumber(p:read("*a"))
  p:close()
  local o, e = M.readfile(out), M.readfile(err)
  os.remove(out)
  os.remove(err)
  return o, e, rc
end

function M.tmpdir() return (M.sh("mktemp -d"):gsub("\n$", "")) end -- a fresh empty directory

-- Runs `code` in a child interpreter with the library registered. opts.cd: the directory to run in;
-- opts.prefix: shell text put before the command.
function M.run(code, opts)
  local script = os.tmpname()
  M.writefile(script, code)
  local o, e, rc = M.sh((opts and opts.cd and "cd " .. M.quote(opts.cd) .. " && " or "")
    .. (opts and opts.prefix or "") .. M.lua .. " -e " .. M.quote(M.register) .. " " .. M.quote(script))
  os.remove(script)
  return o, e, rc
end

-- Many calls in one child: `setup`, each row { call, results, printed }, then `teardown`. Each row is
-- checked, named by its call: `results` is what it hands back (strings %q-quoted, so "12" is not 12; the
-- rest through tostring; joined by blanks), `printed` what it writes to stdout (default nothing; @ stands
-- for what setup wrote). Then stderr must be opts.stderr (default "") and the status 0.
function M.rows(setup, rows, teardown, opts)
  local code = { setup, [[io.write("\30")
    local function row(...)
      local t = {}
      for i = 1, select("#", ...) do
        local v = select(i, ...)
        t[i] = type(v) == "string" and ("%q"):format(v):gsub("\\0%f[%D]", "\\000") or tostring(v) -- LuaJIT's %q: \0
      end
      io.write("\31", table.concat(t, " "), "\30")
    end]] }
  for _, r in ipairs(rows) do code[#code + 1] = "row(" .. r[1] .. ")" end
  local out, err, rc = M.run(table.concat(code, "\n") .. "\n" .. teardown, opts)
  local head, i = out:match("^[^\30]*"), 0
  for printed, results in out:gmatch("\30([^\30\31]*)\31([^\30]*)") do
    i = i + 1
    assert.are.same({ ((rows[i][3] or ""):gsub("@", head)), rows[i][2] }, { printed, results }, rows[i][1])
  end
  assert.are.equal(#rows, i, "rows run")
  assert.are.same({ opts and opts.stderr or "", 0 }, { err, rc }, "stderr and exit status")
end

-- A door into a block around the library: the process's own /proc/self/mem at a handle's address,
-- unbuffered (no read-ahead past a block, no write left pending).
local mem
local function seek(h)
  if not mem then mem = assert(io.open("/proc/self/mem", "r+b")) mem:setvbuf("no") end
  assert(mem:seek("set", tonumber(tostring(h):match("0x(%x+)"), 16)))
end
function M.peek(h, n) seek(h) return n > 0 and assert(mem:read(n)) or "" end -- the n bytes at h
function M.poke(h, s) seek(h) assert(mem:write(s)) end

function M.hex(s) return (s:gsub(".", function(c) return ("%02x"):format(c:byte()) end)) end
function M.le(t, i, width) return width == 0 and 0 or t[i] + 256 * M.le(t, i + 1, width - 1) end -- unsigned
function M.random_bytes(n, zeros) -- a string; zeros: zero bytes common on purpose (1 in 8)
  local t = {}
  for i = 1, n do t[i] = string.char(zeros and math.random(0, 7) == 0 and 0 or math.random(0, 255)) end
  return table.concat(t)
end

return M
