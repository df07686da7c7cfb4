-- The descriptor functions ("LFopen" ... "LFclose") against real files in a
-- temporary directory; Lua's io library and stat(1) are the models.
local support = require("support")
support.load()

local TWO32 = 4294967296

local dir
before_each(function() dir = support.tmpdir() end)
after_each(function() support.rmtree(dir) end)

-- Whether a path exists, whatever its permission bits.
local function exists(path)
  return os.rename(path, path) ~= nil
end

-- Bytes 0..n-1 of a file whose byte i is the character of code 32 + i % 90.
local function pattern(n)
  local t = {}
  for i = 0, n - 1 do t[#t + 1] = string.char(32 + i % 90) end
  return table.concat(t)
end

describe("LFopen", function()
  -- Each row: mode, whether the file exists, whether a descriptor comes
  -- back, then whether it reads and whether it writes.
  local rows = {
    { 0, true, true, true, false },
    { 1, true, true, true, true },
    { 2, true, true, true, true },
    { 0, false, false },
    { 1, false, false },
    { 2, false, true, true, true },
    { 3, true, false },
    { -1, true, false },
    { TWO32, true, true, true, false },     -- cut to 0
    { TWO32 + 2, false, true, true, true }, -- cut to 2
    { nil, true, true, true, false },        -- missing: 0
  }
  for _, row in ipairs(rows) do
    it(string.format("mode %s on a %s file", tostring(row[1]), row[2] and "present" or "missing"), function()
      local path = dir .. "/f"
      if row[2] then support.writefile(path, "abcdef") end
      local fd = LFopen(path, row[1])
      assert.are.equal(row[3], fd >= 0)
      assert.are.equal(row[3] and true or row[2], exists(path))
      if fd >= 0 then
        local b = MallocBuffer(16)
        CharsToBuffer(b, "XY")
        assert.are.equal(row[5], LFwrite(fd, b, 2) == 2)
        LFseek(fd, 0, 0, 0)
        assert.are.equal(row[4], LFread(fd, b, 4) == 4)
        assert.are.equal(fd, LFclose(fd))
        FreeBuffer(b)
      else
        assert.are.equal(-1, fd)
      end
    end)
  end

  it("mode 2 keeps an existing file's contents", function()
    local path = dir .. "/keep"
    support.writefile(path, "abcdefgh")
    local fd = LFopen(path, 2)
    local b = MallocBuffer(16)
    CharsToBuffer(b, "XYZ")
    assert.are.equal(3, LFwrite(fd, b, 3))
    LFclose(fd)
    FreeBuffer(b)
    assert.are.equal("XYZdefgh", support.readfile(path))
  end)

  -- The creation bits are 0160, reduced by the file-creation mask.
  for _, row in ipairs({ { "0", "160" }, { "022", "140" }, { "077", "100" }, { "0777", "0" } }) do
    it("creates with permission bits " .. row[2] .. " under umask " .. row[1], function()
      local path = dir .. "/new"
      local out, err, rc = support.run(string.format("io.write(LFopen(%q, 2) >= 0 and 'ok' or 'fail')", path),
        { prefix = "umask " .. row[1] .. "; " })
      assert.are.same({ "ok", "", 0 }, { out, err, rc })
      assert.are.equal(row[2] .. "\n", (support.sh("stat -c %a " .. support.quote(path))))
    end)
  end
end)

describe("LFread and LFwrite", function()
  it("push the requested length, or nil when nothing moved", function()
    local path = dir .. "/ten"
    support.writefile(path, "0123456789")
    local b = MallocBuffer(128)
    local fd = LFopen(path, 1)
    assert.is_nil(LFwrite(fd, b, 0))
    assert.is_nil(LFread(fd, b, 0))
    assert.are.equal(4, LFread(fd, b, 4))
    assert.are.equal("0123", BufferToChars(b, 0, 4))
    assert.are.equal(100, LFread(fd, b, 100)) -- only 6 were left
    assert.are.equal("456789", BufferToChars(b, 0, 6))
    assert.is_nil(LFread(fd, b, 100))         -- end of file
    LFseek(fd, 0, 0, 0)
    assert.are.equal(3, LFread(fd, b, TWO32 + 3)) -- cuts to 3: a valid length
    LFclose(fd)
    assert.is_nil(LFread(fd, b, 4))           -- closed descriptor
    FreeBuffer(b)
  end)

  -- Calls that break the preconditions, in a child so that a crash shows
  -- as a failed test.
  it("transfer nothing for a null buffer or a negative length", function()
    local path = dir .. "/f"
    support.writefile(path, "abcdefgh")
    local out, err, rc = support.run(string.format([[
      local fd = LFopen(%q, 1)
      local b = MallocBuffer(16)
      CharsToBuffer(b, "XYZXYZXYZXYZXYZX")
      print(LFread(fd, nil, 4), LFwrite(fd, nil, 4), LFread(fd, b, -1), LFwrite(fd, b, -1))
      print(LFwrite(fd, b, 4294967295), LFwrite(fd, b, 2147483648), LFread(fd, b, -4294967300))
      print(LFopen(), LFopen(nil, 2))
      LFclose(fd)
      FreeBuffer(b)
    ]], path))
    assert.are.same({ "nil\tnil\tnil\tnil\nnil\tnil\tnil\n-1\t-1\n", "", 0 }, { out, err, rc })
    assert.are.equal("abcdefgh", support.readfile(path))
  end)
end)

describe("LFseek", function()
  it("composes the offset from unmasked halves", function()
    local path = dir .. "/pattern"
    local data = pattern(300)
    support.writefile(path, data)
    local b = MallocBuffer(128)
    -- Each row: low, high, origin, position after reading 100 bytes, and
    -- the position that follows.
    local rows = {
      { 16, 0, 0, 16 },
      { 5, 0, 1, 105 },
      { -1, 0, 1, 99 },                  -- a negative low half is the offset
      { -1, 7, 1, 99 },                  -- whatever the high half
      { 4294967295, 4294967295, 1, 99 }, -- the pair for -1
      { -10, 0, 2, 290 },
      { 4294967286, 4294967295, 2, 290 },
      { 250, TWO32, 0, 250 },            -- high bits above 31 shift out
    }
    for _, row in ipairs(rows) do
      local fd = LFopen(path, 0)
      LFread(fd, b, 100)
      assert.are.equal(row[3], LFseek(fd, row[1], row[2], row[3]))
      assert.are.equal(1, LFread(fd, b, 1))
      assert.are.equal(data:sub(row[4] + 1, row[4] + 1), BufferToChars(b, 0, 1),
        table.concat(row, ", ", 1, 3))
      LFclose(fd)
    end
    FreeBuffer(b)
  end)

  it("reaches past 4 GiB in a sparse file", function()
    local path = dir .. "/sparse"
    local b = MallocBuffer(16)
    CharsToBuffer(b, "hello")
    local fd = LFopen(path, 2)
    assert.are.equal(0, LFseek(fd, 16, 1, 0)) -- 4294967312
    assert.are.equal(5, LFwrite(fd, b, 5))
    LFclose(fd)
    -- Lua's own seek is the independent reader.
    local f = assert(io.open(path, "rb"))
    assert.are.equal(TWO32 + 21, f:seek("end"))
    f:seek("set", TWO32 + 16)
    assert.are.equal("hello", f:read("*a"))
    f:seek("set", TWO32 + 15)
    assert.are.equal("\0", f:read(1))
    f:close()
    -- And back through descriptors, from the end and from the start.
    fd = LFopen(path, 0)
    CharsToBuffer(b, "-----")
    LFseek(fd, -3, 0, 2)
    assert.are.equal(3, LFread(fd, b, 3))
    assert.are.equal("llo--", BufferToChars(b, 0, 5))
    LFseek(fd, 17, 1, 0)
    assert.are.equal(4, LFread(fd, b, 4))
    assert.are.equal("ello-", BufferToChars(b, 0, 5))
    LFclose(fd)
    FreeBuffer(b)
    os.remove(path)
  end)
end)
