-- docs/bad-input.md, row by row: each call runs in a child interpreter of its own after the page's
-- preamble, must give exactly the page's result, and must leave the library working (valid calls after).
local support = require("support")

local here = debug.getinfo(1, "S").source:match("^@(.*/)") or "./"
local doc = support.readfile(here .. "../../docs/bad-input.md")
local preamble = assert(doc:match("```text\n(.-)```"), "preamble block")
local CHILD = [[
local function show(...)
  local t = {}
  for i = 1, select("#", ...) do
    local v = select(i, ...)
    t[i] = type(v) == "string" and ("%q"):format(v) or tostring(v)
  end
  return table.concat(t, ", ")
end
local r, v, s = show(CALL), MallocBuffer(4), fopen("in.txt", "rb")
StringtoBuffer(v, "0a0b0c0d")
assert(BufferToString(v, 4) == "0a0b0c0d" and fgetALine(s) == "line\n", "valid calls fail")
fclose(s) fclose(f) LFclose(fd) FreeBuffer(v) FreeBuffer(h) FreeBuffer(g)
local o = io.open("result", "w") o:write(r) o:close()]]

describe("bad-input catalogue", function()
  it("has a row for every global", function() -- the list itself: registration_test.lua
    for _, name in ipairs(support.globals) do assert(doc:find("[^%w_]" .. name .. "%("), name .. " has no row") end
  end)

  for kind, call, gives in doc:gmatch("\n| ([^|\n]-) | `([^\n]-)` | ([^\n]-) |") do
    -- With checking on, a row may expect a refusal: its message, and the exit.
    local plain, refusal = gives:match('^(.-); checking on: error "(.*)"$')
    gives = plain or gives
    if not gives:match("^%(not run") then
      it(kind .. ": " .. call, function()
        local dir = support.tmpdir()
        support.writefile(dir .. "/in.txt", "line\n")
        -- A file object taken for a FILE* may hang the child rather than crash it.
        local code = preamble .. CHILD:gsub("CALL", function() return call end)
        local _, err, rc = support.run(code, { cd = dir, prefix = "timeout 60 " })
        local got = io.open(dir .. "/result") and "`" .. support.readfile(dir .. "/result") .. "`"
        support.rmtree(dir)
        if refusal and support.checked then
          assert.are.same({ true, 1 }, { err:find(refusal, 1, true) ~= nil, rc }, err)
        else
          assert.are.same({ gives, 0 }, { got or err, rc })
        end
      end)
    end
  end
end)
