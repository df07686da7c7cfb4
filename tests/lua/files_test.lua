-- The stream functions ("fopen" ... "fgetALine"), "DeleteFile" and
-- "CopyFile", against real files in a temporary directory. Lua's own io
-- library is the model wherever it does the same thing.
local support = require("support")
support.load()

local TWO32 = 4294967296
local NULL_MSG = "./filefun.cpp @ 98, file handle == null\n"

-- A failed open is a light userdata at address 0, which Lua prints "(nil)".
local function isnull(h)
  return type(h) == "userdata" and tostring(h) == "userdata: (nil)"
end

-- The low 32 bits of x read as a signed integer, computed on doubles.
local function cut32(x)
  return (x + 2 ^ 31) % TWO32 - 2 ^ 31
end

-- What fgetALine delivers for a file's contents: lines with their newline,
-- in pieces of at most 1023 bytes, each piece ending before its first zero.
local function line_pieces(data)
  local out = {}
  for line in data:gmatch("[^\n]*\n?") do
    if line == "" then break end
    for i = 1, #line, 1023 do
      out[#out + 1] = line:sub(i, i + 1022):match("^[^%z]*")
    end
  end
  return out
end

-- The strings fgetALine gives over the file, the first result that is not
-- a string, and the result of one more call after it.
local function read_all_lines(path)
  local h = fopen(path, "rb")
  local got, r = {}, fgetALine(h)
  while type(r) == "string" do
    got[#got + 1] = r
    r = fgetALine(h)
  end
  local again = fgetALine(h)
  fclose(h)
  return got, r, again
end

local dir
before_each(function() dir = support.tmpdir() end)
after_each(function() support.rmtree(dir) end)

describe("fgetALine", function()
  local big = {}
  math.randomseed(7)
  for i = 1, 400 do
    big[#big + 1] = string.rep(string.char(97 + i % 26), math.random(0, 2500))
  end
  local rows = {
    { "two short lines, the last without newline", "ab\ncd" },
    { "an empty line", "\n" },
    { "an empty file", "" },
    { "a 2000-character line", string.rep("x", 2000) .. "\n" },
    { "exactly 1022 and 1023 characters", string.rep("y", 1022) .. "\n" .. string.rep("z", 1023) .. "\n" },
    { "carriage returns are kept", "x\r\ny\r\n" },
    { "an embedded zero byte", "ab\0cd\nef\n" },
    { "a zero byte first", "\0abc\nok\n" },
    { "random lines up to 2500 characters", table.concat(big, "\n") },
  }
  for _, row in ipairs(rows) do
    it(row[1], function()
      local path = dir .. "/in.txt"
      support.writefile(path, row[2])
      local got, last, again = read_all_lines(path)
      assert.are.same(line_pieces(row[2]), got)
      assert.is_nil(last)
      assert.is_nil(again)
    end)
  end

  it("gives ab\\n, cd, then nil for a, b, newline, c, d", function()
    local path = dir .. "/abcd"
    support.writefile(path, "ab\ncd")
    local h = fopen(path, "r")
    assert.are.equal("ab\n", fgetALine(h))
    assert.are.equal("cd", fgetALine(h))
    assert.is_nil(fgetALine(h))
    fclose(h)
  end)

  -- Messages and outcomes that touch errno or stderr run in a child.
  it("prints the null-stream message and gives false", function()
    local out, err, rc = support.run([[
      local r = fgetALine(fopen("/nonexistent/x", "r"))
      io.write(type(r), " ", tostring(r), "\n")
      r = fgetALine()
      io.write(tostring(r), "\n")
    ]])
    assert.are.equal(0, rc)
    assert.are.equal("boolean false\nfalse\n", out)
    assert.are.equal(NULL_MSG .. NULL_MSG, err)
  end)

  it("prints the C library's text for a read error on a write-only stream", function()
    local path = dir .. "/wo"
    -- Lua's own io reports the same read error: it is the model of the text.
    local f = assert(io.open(path, "w"))
    local _, want = f:read("*l")
    f:close()
    assert.is_string(want)
    local out, err, rc = support.run(string.format([[
      local h = fopen(%q, "w")
      io.write(tostring(fgetALine(h)), "\n")
      fclose(h)
    ]], path))
    assert.are.equal(0, rc)
    assert.are.equal("false\n", out)
    assert.are.equal("./filefun.cpp @ 108, " .. want .. "\n", err)
  end)

  it("gives nil at end of file even when errno was left set", function()
    local path = dir .. "/one"
    support.writefile(path, "only\n")
    local out, err, rc = support.run(string.format([[
      local h = fopen(%q, "r")
      io.write(fgetALine(h))
      fopen("/nonexistent/x", "r")       -- leaves ENOENT behind
      io.write(tostring(fgetALine(h)), "\n")
      LFopen("/nonexistent/y", 0)       -- and again
      io.write(tostring(fgetALine(h)), "\n")
      fclose(h)
      local n = fopen("/dev/null", "r")  -- a character device, empty
      io.write(tostring(fgetALine(n)), "\n")
      fclose(n)
    ]], path))
    assert.are.equal(0, rc)
    assert.are.equal("only\nnil\nnil\nnil\n", out)
    assert.are.equal("", err)
  end)
end)

describe("fopen, fread, fwrite, fseek, fclose", function()
  it("gives a null stream, not nil, for a failed open", function()
    local h = fopen(dir .. "/missing", "r")
    assert.is_true(isnull(h))
    assert.are.equal(0, fread(h, nil, 10))
    assert.are.equal(0, fwrite(h, nil, 10))
    assert.are.equal(0, fseek(h, 10, 0))
    assert.are.equal(h, fclose(h))
  end)

  it("writes and reads whole and partial blocks through a buffer", function()
    local path = dir .. "/data"
    local text = "The quick brown fox jumps over the lazy dog"
    local b = MallocBuffer(64)
    CharsToBuffer(b, text)
    local h = fopen(path, "wb")
    assert.is_false(isnull(h))
    assert.are.equal(#text, fwrite(h, b, #text))
    assert.are.equal(0, fwrite(h, b, 0))
    assert.are.equal(h, fclose(h))
    assert.are.equal(text, support.readfile(path))

    h = fopen(path, "rb")
    assert.are.equal(0, fread(h, b, 0))
    assert.are.equal(16, fread(h, b, 16))
    assert.are.equal(text:sub(1, 16), BufferToChars(b, 0, 16))
    assert.are.equal(#text - 16, fread(h, b, 64)) -- the short last block
    assert.are.equal(text:sub(17), BufferToChars(b, 0, #text - 16))
    assert.are.equal(0, fread(h, b, 64))            -- end of file
    -- A count beyond 32 bits that cuts to 5 is a valid count of 5.
    fseek(h, 0, 0)
    assert.are.equal(5, fread(h, b, TWO32 + 5))
    fclose(h)
    FreeBuffer(b)
  end)

  it("seeks with the offset cut to 32 bits, like Lua's own seek", function()
    local path = dir .. "/digits"
    support.writefile(path, "0123456789abcdefghij")
    local whence = { [0] = "set", "cur", "end" }
    -- Each row: offset, origin; the model seeks to cut32(offset).
    local rows = {
      { 10, 0 }, { 0, 0 }, { 4294967295, 1 }, { -1, 1 }, { 3, 1 }, { -3, 2 },
      { TWO32 + 2, 0 }, { 0, 2 }, { 4294967291, 2 },
    }
    local b = MallocBuffer(16)
    for _, row in ipairs(rows) do
      local h, f = fopen(path, "rb"), assert(io.open(path, "rb"))
      assert.are.equal(5, fread(h, b, 5))
      f:read(5)
      assert.are.equal(row[2], fseek(h, row[1], row[2]))
      f:seek(whence[row[2]], cut32(row[1]))
      local n = fread(h, b, 1)
      local want = f:read(1)
      assert.are.equal(want and 1 or 0, n, row[1] .. "/" .. row[2])
      if want then assert.are.equal(want, BufferToChars(b, 0, 1)) end
      fclose(h)
      f:close()
    end
    -- An origin that is none of 0, 1, 2 leaves the position alone.
    local h = fopen(path, "rb")
    fread(h, b, 7)
    assert.are.equal(3, fseek(h, 2, 3))
    fread(h, b, 1)
    assert.are.equal("7", BufferToChars(b, 0, 1))
    fclose(h)
    FreeBuffer(b)
  end)

  it("flushes every output stream when closing a null stream", function()
    local path = dir .. "/pending"
    local b = MallocBuffer(16)
    CharsToBuffer(b, "hello")
    local h = fopen(path, "w")
    fwrite(h, b, 5)
    assert.are.equal("", support.readfile(path)) -- still in the stream's buffer
    local none = fopen(dir .. "/missing", "r")
    assert.are.equal(none, fclose(none))
    assert.are.equal("hello", support.readfile(path))
    fclose(h)
    FreeBuffer(b)
  end)

  -- Calls that break the preconditions, in a child so that a crash shows
  -- as a failed test.
  it("refuses missing paths and modes, null buffers and negative counts", function()
    local path = dir .. "/f"
    support.writefile(path, "abcdefgh")
    local out, err, rc = support.run(string.format([[
      local p = %q
      local function null(h) return tostring(h) == "userdata: (nil)" end
      print(null(fopen()), null(fopen(p)), null(fopen(nil, "r")))
      local b = MallocBuffer(16)
      CharsToBuffer(b, "XYZXYZXYZXYZXYZX")
      local h = fopen(p, "r+b")
      print(fread(h, nil, 4), fwrite(h, nil, 4))
      print(fread(h, b, -1), fread(h, b, 4294967295), fread(h, b, -4294967300))
      print(fwrite(h, b, -1), fwrite(h, b, 2147483648))
      fclose(h)
      FreeBuffer(b)
    ]], path))
    assert.are.equal("", err)
    assert.are.equal(0, rc)
    assert.are.equal("true\ttrue\ttrue\n0\t0\n0\t0\t0\n0\t0\n", out)
    assert.are.equal("abcdefgh", support.readfile(path))
    assert.are.equal("f\n", (support.sh("ls " .. support.quote(dir))))
  end)
end)

describe("DeleteFile", function()
  it("unlinks a file and hands back the path, silently in every case", function()
    local path = dir .. "/gone"
    support.writefile(path, "x")
    assert.are.equal(path, DeleteFile(path))
    assert.is_nil(io.open(path, "r"))
    assert.are.equal(path, DeleteFile(path)) -- now missing: nothing happens
    os.execute("mkdir " .. support.quote(dir .. "/sub"))
    DeleteFile(dir .. "/sub")                 -- a directory stays
    assert.are.equal("sub\n", (support.sh("ls " .. support.quote(dir))))
    local out, err, rc = support.run("print(DeleteFile() == DeleteFile, DeleteFile(nil))")
    assert.are.same({ "true\tnil\n", "", 0 }, { out, err, rc })
  end)
end)

describe("CopyFile", function()
  it("copies and hands back the destination", function()
    support.writefile(dir .. "/a", "alpha\0bytes")
    assert.are.equal(dir .. "/b", CopyFile(dir .. "/a", dir .. "/b"))
    assert.are.equal("alpha\0bytes", support.readfile(dir .. "/b"))
  end)

  it("lets the shell split unquoted paths: 'a b' c copies two files into c", function()
    support.writefile(dir .. "/a", "A")
    support.writefile(dir .. "/b", "B")
    os.execute("mkdir " .. support.quote(dir .. "/c"))
    local out, err, rc = support.run('io.write(CopyFile("a b", "c"))', { cd = dir })
    assert.are.same({ "c", "", 0 }, { out, err, rc })
    assert.are.equal("A", support.readfile(dir .. "/c/a"))
    assert.are.equal("B", support.readfile(dir .. "/c/b"))
  end)

  -- "cp", two blanks and the paths must fit 1023 characters: 1019 for the
  -- paths together. "./" prefixes make long names for the same files.
  for _, total in ipairs({ 1018, 1019, 1020, 1021, 4000 }) do
    it("with paths of " .. total .. " characters together", function()
      support.writefile(dir .. "/s", "S")
      local src = string.rep("./", 400) .. "s"
      local k = total - #src - 1 -- characters before the final "d"
      local dst = string.rep("./", math.floor(k / 2)) .. string.rep("/", k % 2) .. "d"
      assert.are.equal(total, #src + #dst)
      local out, err, rc = support.run(string.format("io.write(CopyFile(%q, %q))", src, dst), { cd = dir })
      assert.are.same({ dst, "", 0 }, { out, err, rc })
      local copied = io.open(dir .. "/d", "r")
      if copied then copied:close() end
      assert.are.equal(total <= 1019, copied ~= nil)
    end)
  end

  it("runs nothing without both paths", function()
    support.writefile(dir .. "/a", "A")
    local out, err, rc = support.run([[
      print(CopyFile("a"), CopyFile() == CopyFile, CopyFile(nil, "b"), CopyFile("a", nil))
    ]], { cd = dir })
    assert.are.same({ "a\ttrue\tb\tnil\n", "", 0 }, { out, err, rc })
    assert.are.equal("a\n", (support.sh("ls " .. support.quote(dir))))
  end)
end)
