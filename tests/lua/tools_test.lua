-- The example tools against independent references: hexdump.lua against
-- xxd, patch.lua against byte arithmetic on Lua strings and Python's zlib.
local support = require("support")
local q = support.quote
local examples = debug.getinfo(1, "S").source:match("^@(.*)/tests/lua/") .. "/examples/"
local plain = "env -u LD_PRELOAD " -- the reference tools run without the ASan runtime
-- The examples require "vodUdid": this build's module, not one found elsewhere.
local lua = "LUA_CPATH=" .. q(os.getenv("VODUDID_MODULE_DIR") .. "/?.so") .. " env -u VODUDID_LIB " .. support.lua

local dir
before_each(function() dir = support.tmpdir() end)
after_each(function() support.rmtree(dir) end)

it("hexdump.lua prints what xxd prints", function()
  math.randomseed(3)
  local sizes = { 0, 1, 16, 33, 200, 70000 }
  local options = { "", "-s 0x10 -l 010", "-s 017 -l 33", "-s5", "-l 0", "-s -20 -l 0x7", "-s 99999", "-l -1" }
  for _, n in ipairs(sizes) do
    local file = dir .. "/f" .. n
    support.writefile(file, n == 200 and ("Hello\0 world\127\n"):rep(13):sub(1, n) or support.random_bytes(n))
    for _, opt in ipairs(options) do
      local want = support.sh(plain .. "xxd " .. opt .. " " .. q(file))
      local got, err, rc = support.sh(("%s %s %s %s"):format(lua, q(examples .. "hexdump.lua"), opt, q(file)))
      if n >= 20 or not opt:find("-20", 1, true) then -- xxd cannot seek before the start
        assert.are.same({ want, "", 0 }, { got, err, rc }, n .. " bytes, options " .. opt)
      end
    end
  end
end)

-- Little-endian integers in strings, and a field of `width` bits at `first` of a `len`-byte word.
local function le(v, len)
  local t = {}
  for i = 1, len do t[i] = string.char(math.floor(v / 256 ^ (i - 1)) % 256) end
  return table.concat(t)
end
local function field(s, off, len, first, width, v)
  local w, unit = support.le({ s:byte(off + 1, off + len) }, 1, len), 2 ^ first
  local old = math.floor(w / unit) % 2 ^ width
  return s:sub(1, off) .. le(w + (v - old) * unit, len) .. s:sub(off + len + 1)
end
local function put(s, off, bytes) return s:sub(1, off) .. bytes .. s:sub(off + #bytes + 1) end

it("patch.lua applies edits as the byte model does and shows both CRC-32s", function()
  math.randomseed(4)
  local file = dir .. "/p.bin"
  local function crc()
    return support.sh(plain .. "python3 -c 'import zlib,sys; print(zlib.crc32(open(sys.argv[1], \"rb\").read()))' " .. q(file))
  end
  local rows = { -- edit, then its bytes at an offset, or its field: offset, bytes, first bit, width, value
    { "0:u8=255", 0, "\255" }, { "63:u8=0x7f", 63, "\127" }, { "5:u16=0xBEEF", 5, le(0xBEEF, 2) },
    { "60:u32=4294967295", 60, le(4294967295, 4) }, { "9:u32=305419896", 9, le(305419896, 4) },
    { "7:bit8:1:3=5", 7, 1, 1, 3, 5 }, { "12:bit8:7:1=0", 12, 1, 7, 1, 0 }, { "3:bit32:4:8=0xAB", 12, 4, 4, 8, 0xAB },
    { "15:bit32:1:31=2147483647", 60, 4, 1, 31, 2147483647 }, { "hex=30:00fF10", 30, "\0\255\16" },
  }
  local args, want = {}, support.random_bytes(64)
  support.writefile(file, want)
  local before = crc()
  for i, row in ipairs(rows) do
    args[i], want = row[1], row[4] and field(want, unpack(row, 2)) or put(want, row[2], row[3])
  end
  local patch = ("%s %s %s "):format(lua, q(examples .. "patch.lua"), q(file))
  local out, err, rc = support.sh(patch .. table.concat(args, " "))
  assert.are.same({ "", 0 }, { err, rc })
  assert.are.equal(want, support.readfile(file))
  assert.is_truthy(out:find("^before: l_calc_crc32, pBuffer = 0x%x+, nLen = 64, crc32 = " .. before:gsub("\n", " %%(")))
  assert.is_truthy(out:find("\nafter: l_calc_crc32, pBuffer = 0x%x+, nLen = 64, crc32 = " .. crc():gsub("\n", " %%(")))
  assert.is_truthy(out:find("\n0x%x+, 63, 127, =127\n63:u8=0x7f: %x%x %-> 7f\n"), out)

  -- Refused: outside the file, too large a value, malformed text. Nothing
  -- is written even when other edits of the same call are fine.
  for _, bad in ipairs({ "64:u8=1", "63:u16=1", "-1:u8=1", "16:bit32:0:1=1", "hex=63:0000",
      "0:u8=256", "0:u16=65536", "0:u32=0x100000000", "0:bit8:0:2=4", "0:bit8:6:3=1", "0:bit32:0:32=1",
      "0:u8=x", "0:u64=1", "hex=0:abc", "hex=0:", "0:bit8:1=1", "u8=1", "0:u8=1.5" }) do
    out, err, rc = support.sh(patch .. "0:u8=1 " .. q(bad))
    assert.are.same({ "", 2, want }, { out, rc, support.readfile(file) }, bad)
    assert.is_truthy(err:find("^patch: .*" .. bad:gsub("%p", "%%%0")), err)
  end
end)
