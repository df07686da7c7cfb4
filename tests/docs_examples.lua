-- Runs every ```lua block of README.md and docs/*.md in a child lua5.1 with
-- the library registered, each in a fresh temporary current directory, and
-- fails on any difference from what the page says:
--   expr --> text    the results of expr, tostring'd and joined by ", ";
--   --| text         the lines the statement just before prints on stdout
--                    (`<handle>` stands for one address as %p prints it).
-- Anything printed that no --| line announces is a difference too. Each
-- block is checked line for line, so messages name the page and its line.
-- Usage: lua5.1 docs_examples.lua SOURCE_DIR   (VODUDID_LIB names the library)
local root, lib = assert(arg[1]), assert(os.getenv("VODUDID_LIB"))
local lua = os.getenv("VODUDID_LUA") or "lua5.1"
local function q(s) return "'" .. s:gsub("'", "'\\''") .. "'" end
local function slurp(p) local f = assert(io.open(p, "rb")) local s = f:read("*a") f:close() return s end
local failures, nblocks, code = {}, 0, {}
local function fail(page, line, msg) failures[#failures + 1] = page .. ":" .. line .. ": " .. msg end

-- Line 1 of every chunk: the helpers the rewritten lines call.
local PRELUDE = [[local __bad, __out = false, io.write local function __check(at, want, ...) ]]
  .. [[local got = {} for i = 1, select("#", ...) do got[i] = tostring((select(i, ...))) end ]]
  .. [[got = table.concat(got, ", ") if got ~= want then __bad = true io.stderr:write(]]
  .. [[string.format("%s:%d: gives %q, the page says %q\n", PAGE, at, got, want)) end end ]]
  .. [[local function __mark(at) __out("\1" .. at .. "\1") end]]

local function run_block(page, first, lines)
  nblocks = nblocks + 1
  local out, groups = { (PRELUDE:gsub("PAGE", string.format("%q", page))) }, {}
  for _ = 2, first - 1 do out[#out + 1] = "" end
  for i, l in ipairs(lines) do
    local at = first + i - 1
    local expr, want = l:match("^%s*(.-)%s+%-%->%s?(.*)$")
    local shown = l:match("^%s*%-%-|%s?(.*)$")
    if shown then
      local prev = groups[#groups]
      if prev and prev.last == at - 1 then
        prev.text, prev.last, l = prev.text .. shown .. "\n", at, ""
      else
        groups[#groups + 1] = { at = at, last = at, text = shown .. "\n" }
        l = "__mark(" .. at .. ")"
      end
    elseif expr and not expr:find("^%-%-") then
      l = string.format("__check(%d, %q, %s)", at, want, expr)
    end
    out[#out + 1] = l
  end
  out[#out + 1] = "__mark(0) if __bad then os.exit(1) end"
  code[#code + 1] = table.concat(lines, "\n")

  local dir = io.popen("mktemp -d"):read("*l")
  local chunk, stdout, stderr = os.tmpname(), os.tmpname(), os.tmpname()
  local f = assert(io.open(chunk, "wb")) f:write(table.concat(out, "\n")) f:close()
  local cmd = string.format("cd %s && %s -e %s -e %s <%s >%s 2>%s", q(dir), lua,
    q("assert(package.loadlib(os.getenv('VODUDID_LIB'), 'l_RegAllFun'))()"),
    q(string.format("assert(loadstring(io.read('*a'), %q))()", "=" .. page)), chunk, stdout, stderr)
  local ok = os.execute(cmd) == 0
  local printed, err = slurp(stdout), slurp(stderr)
  os.execute("rm -rf " .. q(dir) .. " " .. chunk .. " " .. stdout .. " " .. stderr)
  if not ok then fail(page, first, "block fails:\n" .. err) end
  groups[#groups + 1] = { at = 0, text = "" }
  local k = 0
  for seg, at in printed:gmatch("(.-)\1(%-?%d+)\1") do
    k = k + 1
    local g = groups[k] or { at = tonumber(at), text = "" }
    local pat = "^" .. g.text:gsub("%p", "%%%0"):gsub("%%<handle%%>", "0x%%x+") .. "$"
    if tonumber(at) ~= g.at or not seg:find(pat) then
      fail(page, tonumber(at) == 0 and first + #lines or at,
        string.format("prints %q, the page says %q", seg, g.text))
    end
  end
  if k ~= #groups then fail(page, first, "stopped before its end") end
end

local pages = { "README.md" }
for p in io.popen("cd " .. q(root) .. " && ls docs/*.md"):lines() do pages[#pages + 1] = p end
for _, page in ipairs(pages) do
  local n, block, first = 0, nil, nil
  for l in (slurp(root .. "/" .. page) .. "\n"):gmatch("(.-)\n") do
    n = n + 1
    if block then
      if l:match("^%s*```%s*$") then run_block(page, first, block) block = nil
      else block[#block + 1] = l end
    elseif l:match("^%s*```lua%s*$") then block, first = {}, n + 1 end
  end
end

-- Every global the library registers is called in at least one example.
local before = {}
for k in pairs(_G) do before[k] = true end
assert(package.loadlib(lib, "l_RegAllFun"))()
local all = table.concat(code, "\n")
for k in pairs(_G) do
  if not before[k] and not all:find("%f[%w_]" .. k .. "%s*%(") then fail("docs", 0, "no example calls " .. k) end
end
print(string.format("%d blocks in %d pages", nblocks, #pages))
if #failures > 0 then io.stderr:write(table.concat(failures, "\n"), "\n") os.exit(1) end
