-- 64-bit file positions carried as two 32-bit halves (low half first).
-- Run: build/vodudid examples/halves.lua
--  or: lua5.1 examples/halves.lua
-- The globals: the vodudid host has them; under lua5.1 or luajit they come
-- from require "vodUdid" (package.cpath, then the build's lua/ folder of the
-- checkout this script lies in), else from the library $VODUDID_LIB names.
if not MallocBuffer then
  local here = arg and arg[0] and arg[0]:match("^(.*)/") or "."
  package.cpath = package.cpath .. ";" .. here .. "/../build/lua/?.so"
  local ok, err = pcall(require, "vodUdid")
  if not ok then
    local lib = os.getenv("VODUDID_LIB")
    assert(package.loadlib(assert(lib, err), "l_RegAllFun"))()
  end
end

local function show(label, lo, hi)
  DebugTrace(string.format("%-28s low = %10d  high = %10d", label, lo, hi))
end

-- 4 GiB - 1 plus one byte crosses into the high half.
local lo, hi = Int64Add(4294967295, 0, 1, 0)
show("(2^32 - 1) + 1", lo, hi)

-- A position 5 GiB into a file, then 1.5 GiB back.
local fiveGiB_lo, fiveGiB_hi = 1073741824, 1
local back_lo, back_hi = 1610612736, 0
lo, hi = Int64Dec(fiveGiB_lo, fiveGiB_hi, back_lo, back_hi)
show("5 GiB - 1.5 GiB", lo, hi)

-- Below zero the pair is two's complement: -1 is all ones.
lo, hi = Int64Dec(0, 0, 1, 0)
show("0 - 1", lo, hi)

local names = { [0] = "less than", [1] = "equal to", [2] = "greater than" }
DebugTrace("-1 is " .. names[CompareInt64(lo, hi, 0, 0)] .. " 0")
DebugTrace("2^32 is " .. names[CompareInt64(0, 1, 4294967295, 0)] .. " 2^32 - 1")
