-- Runs every ```lua block of README.md and docs/*.md in a child interpreter with the library registered,
-- each in a fresh temporary current directory, and fails on any difference from what the page says:
--   print(e) --> text  what that print prints: the results of e, tostring'd and joined by tabs
--                      (a --> after anything else is a mistake: pasted, it would show nothing);
--   --| text         the lines the statement just before prints on stdout
--                    (`<handle>` stands for one address as %p prints it).
-- Anything printed that no --| line announces is a difference too. Each block is checked line for line,
-- so messages name the page and its line.
-- Usage: lua5.1 docs_examples.lua SOURCE_DIR   (VODUDID_LIB names the library, LUA_PATH finds support.lua)
local support = require("support")
local root, q = assert(arg[1]), support.quote
local failures, nblocks, code = {}, 0, {}
local function fail(page, line, msg) failures[#failures + 1] = page .. ":" .. line .. ": " .. msg end

-- Line 1 of every chunk: the helpers the rewritten lines call.
local PRELUDE = [[local __bad, __out = false, io.write local function __check(at, want, ...) ]]
  .. [[local got = {} for i = 1, select("#", ...) do got[i] = tostring((select(i, ...))) end ]]
  .. [[got = table.concat(got, "\t") if got ~= want then __bad = true io.stderr:write(]]
  .. [[string.format("%s:%d: gives %q, the page says %q\n", PAGE, at, got, want)) end end ]]
  .. [[local function __mark(at) __out("\1" .. at .. "\1") end]]

local shell = os.getenv("VODUDID_SHELL_COPY") ~= "0" -- else blocks that rely on CopyFile's shell are left out
local function run_block(page, first, lines)
  if not shell and lines[1]:find("^%-%- the default build: CopyFile through the shell") then return end
  nblocks = nblocks + 1
  local out, groups = { (PRELUDE:gsub("PAGE", string.format("%q", page))) }, {}
  for _ = 2, first - 1 do out[#out + 1] = "" end
  for i, l in ipairs(lines) do
    local at = first + i - 1
    local stmt, want = l:match("^%s*(.-)%s+%-%->%s?(.*)$")
    local expr = stmt and stmt:match("^print(%b())$")
    local shown = l:match("^%s*%-%-|%s?(.*)$")
    local prev = groups[#groups]
    if shown and prev and prev.last == at - 1 then
      prev.text, prev.last, l = prev.text .. shown .. "\n", at, ""
    elseif shown then
      groups[#groups + 1] = { at = at, last = at, text = shown .. "\n" }
      l = "__mark(" .. at .. ")"
    elseif expr then
      l = string.format("__check(%d, %q, %s)", at, want, expr:sub(2, -2))
    elseif stmt and not stmt:find("^%-%-") then
      fail(page, at, "--> after a line that is not print(...)")
    end
    out[#out + 1] = l
  end
  out[#out + 1] = "__mark(0) if __bad then os.exit(1) end"
  code[#code + 1] = table.concat(lines, "\n")

  local dir = support.tmpdir()
  local printed, err, rc = support.run(table.concat(out, "\n"), { cd = dir })
  support.rmtree(dir)
  if rc ~= 0 then fail(page, first, "block fails:\n" .. err) end
  groups[#groups + 1] = { at = 0, text = "" }
  local k = 0
  for seg, at in printed:gmatch("(.-)\1(%-?%d+)\1") do
    k = k + 1
    local g = groups[k] or { at = tonumber(at), text = "" }
    local pat = "^" .. g.text:gsub("%p", "%%%0"):gsub("%%<handle%%>", "0x%%x+") .. "$"
    if tonumber(at) ~= g.at or not seg:find(pat) then
      fail(page, tonumber(at) == 0 and first + #lines or at, string.format("prints %q, the page says %q", seg, g.text))
    end
  end
  if k ~= #groups then fail(page, first, "stopped before its end") end
end

local pages = { "README.md" }
for p in io.popen("cd " .. q(root) .. " && ls docs/*.md"):lines() do pages[#pages + 1] = p end
for _, page in ipairs(pages) do
  local n, block, first = 0, nil, nil
  for l in (support.readfile(root .. "/" .. page) .. "\n"):gmatch("(.-)\n") do
    n = n + 1
    if block and l:match("^%s*```%s*$") then
      run_block(page, first, block)
      block = nil
    elseif block then
      block[#block + 1] = l
    elseif l:match("^%s*```lua%s*$") then
      block, first = {}, n + 1
    end
  end
end

-- Every global the library registers is called in at least one example.
local all = table.concat(code, "\n")
for _, k in ipairs(support.globals) do
  if not all:find("%f[%w_]" .. k .. "%s*%(") then fail("docs", 0, "no example calls " .. k) end
end
print(string.format("%d blocks in %d pages", nblocks, #pages))
if #failures > 0 then io.stderr:write(table.concat(failures, "\n"), "\n") os.exit(1) end
