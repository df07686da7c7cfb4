-- The file family against real files in a temporary directory. Lua's io
-- library and small models are the references.
local support = require("support")
support.load()

local TWO32, checked = 4294967296, support.checked
local NULL_MSG = "./filefun.cpp @ 98, file handle == null\n"

local dir
before_each(function() dir = support.tmpdir() end)
after_each(function() support.rmtree(dir) end)

it("fgetALine reads the pieces of a model, then nil and nil again", function()
  -- The model: lines keep their newline and come in pieces of at most 1023
  -- bytes, each piece ending before its first zero byte.
  local function pieces(data)
    local out = {}
    for line in data:gmatch("[^\n]*\n?") do
      for i = 1, #line, 1023 do out[#out + 1] = line:sub(i, i + 1022):match("^[^%z]*") end
    end
    return out
  end
  math.randomseed(7)
  local random = {}
  for i = 1, 300 do random[i] = string.char(97 + i % 26):rep(math.random(0, 2200)) .. (i % 40 == 0 and "\0z" or "") end
  local rows = { "ab\ncd", ("x"):rep(2000) .. "\n", "ab\0cd\n\0ef\nok", "\n", "", "x\r\ny\r\n",
    ("y"):rep(1022) .. "\n" .. ("z"):rep(1023) .. "\n", table.concat(random, "\n") }
  for i, data in ipairs(rows) do
    support.writefile(dir .. "/in", data)
    local h, got = fopen(dir .. "/in", "rb"), {}
    local r = fgetALine(h)
    while type(r) == "string" do got[#got + 1] = r; r = fgetALine(h) end
    assert.are.same(pieces(data), got, "row " .. i)
    assert.are.same({ nil, nil, h }, { r, fgetALine(h), fclose(h) })
  end
end)

it("gives the decided results, the stderr messages and the hand-backs in one child", function()
  for name, data in pairs({ f = "abcdefgh", a = "A", one = "only", s = "S", gone = "", wo = "" }) do
    support.writefile(dir .. "/" .. name, data)
  end
  os.execute("mkdir " .. support.quote(dir .. "/sub"))
  local _, ebadf = assert(io.open(dir .. "/wo", "w")):read("*l") -- Lua's io gives the read error's text
  -- "cp", two blanks and the paths must fit 1023 characters: 1019 for the
  -- paths together. "./" pads the names of the same files.
  -- A null handle's text is the interpreter's: glibc's %p under Lua 5.1.
  local src, N = ("./"):rep(400) .. "s", "userdata: " .. (jit and "NULL" or "(nil)")
  local function dst(total, name)
    local k = total - #src - #name
    return ("./"):rep(math.floor(k / 2)) .. ("/"):rep(k % 2) .. name
  end
  local rows = {
    { 'fopen("nope", "r"), fopen(), fopen("new"), fopen(nil, "r")', ("%s %s %s %s"):format(N, N, N, N) },
    { 'LFopen(), LFopen(nil, 2), LFopen("new", 2) >= 0', "-1 -1 true" },
    { "fread(z, b, 4), fwrite(z, b, 4), fseek(z, 10, 0)", "0 0 0" },
    { "fread(h, nil, 4), fwrite(h, nil, 4), LFread(fd, nil, 4), LFwrite(fd, nil, 4)", "0 0 nil nil" },
    { "fread(h, b, -1), fread(h, b, 4294967295), fread(h, b, -4294967300), fwrite(h, b, -1)", "0 0 0 0" },
    { "fwrite(h, b, 2147483648), LFread(fd, b, -1), LFread(fd, b, -4294967300)", "0 nil nil" },
    { "LFwrite(fd, b, -1), LFwrite(fd, b, 4294967295), LFwrite(fd, b, 2147483648)", "nil nil nil" },
    { "fread(h, b, 4294967296 + 3), LFread(fd, b, 4294967296 + 2)", "3 2" }, -- cut to valid counts
    -- LFread and LFwrite push the length asked for, or nil when nothing moved.
    { "LFread(fd, b, 0), LFwrite(fd, b, 0), LFread(fd, b, 100), LFread(fd, b, 100)", "nil nil 100 nil" },
    { 'CopyFile("a"), CopyFile() == CopyFile, CopyFile(nil, "b"), CopyFile("a", nil)', "a true b nil" },
    { "DeleteFile() == DeleteFile, DeleteFile(nil)", "true nil" },
    { "fgetALine(z), fgetALine(), fgetALine(w)", "false false false" },
    -- End of file, even after failed opens left errno set.
    { 'fgetALine(o), fopen("nope", "r") and fgetALine(o), LFopen("nope", 0) and fgetALine(o)', "only nil nil" },
    { 'fgetALine(fopen("/dev/null", "r"))', "nil" },
    { 'CopyFile("a", "c"), try(CopyFile, "a one", "sub"), DeleteFile("gone")', checked and "c refused gone" or "c sub gone" },
    { ("CopyFile(%q, %q)"):format(src, dst(1019, "d19")), dst(1019, "d19") },
    { ("CopyFile(%q, %q)"):format(src, dst(1020, "d20")), dst(1020, "d20") },
    { "fclose(h) == h, fclose(o) == o, fclose(w) == w, LFclose(fd) == fd, try(LFread, fd, b, 4)",
      checked and "true true true true refused" or "true true true true nil" },
  }
  local code = { [[
    local b, h, fd, o = MallocBuffer(128), fopen("f", "r+b"), LFopen("f", 1), fopen("one", "r")
    local z, w = fopen("nope", "r"), fopen("wo", "w")
    CharsToBuffer(b, ("XYZ"):rep(40))
    local function try(f, ...) local ok, r = pcall(f, ...) return ok and tostring(r) or "refused" end
    local function p(...)
      local t = {}
      for i = 1, select("#", ...) do t[i] = tostring((select(i, ...))) end
      print(table.concat(t, " "))
    end]] }
  for i, row in ipairs(rows) do code[i + 1] = "p(" .. row[1] .. ")" end
  local out, err, rc = support.run(table.concat(code, "\n") .. "\nFreeBuffer(b)", { cd = dir, prefix = "umask 0; " })
  assert.are.same({ NULL_MSG .. NULL_MSG .. "./filefun.cpp @ 108, " .. ebadf .. "\n", 0 }, { err, rc })
  local i = 0
  for line in out:gmatch("([^\n]*)\n") do i = i + 1; assert.are.equal(rows[i][2], line, rows[i][1]) end
  assert.are.equal(#rows, i)
  -- Nothing written, created, copied or deleted but what the rows name; the
  -- descriptor family creates with the bits 0160.
  local want, got = { a = "A", c = "A", d19 = "S", f = "abcdefgh", one = "only", s = "S", wo = "",
    ["sub/a"] = not checked and "A" or nil, ["sub/one"] = not checked and "only" or nil }, {}
  for name in support.sh("cd " .. support.quote(dir) .. " && find . -type f ! -name new"):gmatch("%./(%S+)") do
    got[name] = support.readfile(dir .. "/" .. name)
  end
  assert.are.same(want, got)
  assert.are.equal("160\n", (support.sh("stat -c %a " .. support.quote(dir .. "/new"))))
end)

it("fseek cuts the offset to 32 bits and hands back the origin, like Lua's seek", function()
  local path, whence, b = dir .. "/digits", { [0] = "set", "cur", "end" }, MallocBuffer(16)
  support.writefile(path, "0123456789abcdefghij")
  for _, row in ipairs({ { 10, 0 }, { 4294967295, 1 }, { 3, 1 }, { -3, 2 }, { TWO32 + 2, 0 }, { 4294967291, 2 },
    { 0, 2 }, { 2, 3 } }) do
    local h, f = fopen(path, "rb"), assert(io.open(path, "rb"))
    fread(h, b, 5); f:read(5)
    assert.are.equal(row[2], fseek(h, row[1], row[2]))
    if whence[row[2]] then f:seek(whence[row[2]], (row[1] + 2 ^ 31) % TWO32 - 2 ^ 31) end
    local want = f:read(1)
    assert.are.same({ want and 1 or 0, want }, { fread(h, b, 1), want and BufferToChars(b, 0, 1) }, row[1] .. "/" .. row[2])
    fclose(h); f:close()
  end
  FreeBuffer(b)
end)

it("fwrite and fread move whole and short blocks; fclose of a null stream flushes", function()
  local path, text = dir .. "/data", "The quick brown fox jumps over the lazy dog"
  local b, h, none = MallocBuffer(64), fopen(path, "wb"), fopen(dir .. "/missing", "r")
  CharsToBuffer(b, text)
  assert.are.same({ #text, 0 }, { fwrite(h, b, #text), fwrite(h, b, 0) })
  assert.are.equal("", support.readfile(path)) -- still in the stream's buffer
  assert.are.same({ none, text }, { fclose(none), support.readfile(path) })
  fclose(h); h = fopen(path, "rb")
  assert.are.same({ 0, 16, #text - 16, 0 }, { fread(h, b, 0), fread(h, b, 16), fread(h, b, 64), fread(h, b, 64) })
  assert.are.equal(text:sub(17), BufferToChars(b, 0, #text - 16))
  fclose(h)
  FreeBuffer(b)
end)

it("LFopen takes modes 0, 1, 2 (cut to 32 bits, missing is 0), refuses others, never truncates", function()
  -- Each row: mode, whether "abcdef" is there, whether it opens, whether it writes.
  local rows = { { 0, true, true, false }, { 1, true, true, true }, { 2, true, true, true }, { 0, false, false },
    { 1, false, false }, { 2, false, true, true }, { 3, true, false }, { -1, true, false },
    { TWO32, true, true, false }, { TWO32 + 2, false, true, true }, { nil, true, true, false } }
  local b = MallocBuffer(16)
  for i, row in ipairs(rows) do
    local path, what = dir .. "/f" .. i, "row " .. i
    if row[2] then support.writefile(path, "abcdef") end
    local fd = LFopen(path, row[1])
    assert.are.equal(row[3] and true or -1, row[3] and fd >= 0 or fd, what)
    assert.are.equal(row[2] or row[3], os.rename(path, path) ~= nil, what)
    if fd >= 0 then
      CharsToBuffer(b, "XY----")
      assert.are.equal(row[4] and 2 or nil, LFwrite(fd, b, 2), what)
      LFseek(fd, 0, 0, 0)
      local want = row[2] and (row[4] and "XYcdef" or "abcdef") or "XY----" -- 6 asked for, even if short
      assert.are.same({ 6, want, fd }, { LFread(fd, b, 6), BufferToChars(b, 0, 6), LFclose(fd) }, what)
    end
  end
  FreeBuffer(b)
end)

it("LFseek composes the offset from unmasked halves", function()
  local data, b = ("0123456789abcdefghijklmnopqrstuvwxyz"):rep(9), MallocBuffer(128)
  support.writefile(dir .. "/p", data)
  -- low, high, origin, then the position reached from byte 100
  for _, row in ipairs({ { 16, 0, 0, 16 }, { 5, 0, 1, 105 }, { -1, 7, 1, 99 }, { 4294967295, 4294967295, 1, 99 },
    { -10, 0, 2, 314 }, { 250, TWO32, 0, 250 } }) do
    local fd = LFopen(dir .. "/p", 0)
    LFread(fd, b, 100)
    assert.are.same({ row[3], 1, data:sub(row[4] + 1, row[4] + 1), fd },
      { LFseek(fd, row[1], row[2], row[3]), LFread(fd, b, 1), BufferToChars(b, 0, 1), LFclose(fd) }, table.concat(row, ", "))
  end
  FreeBuffer(b)
end)

it("LFseek reaches past 4 GiB in a sparse file", function()
  local path, b = dir .. "/sparse", MallocBuffer(16)
  support.writefile(path, "") -- readable by its owner; mode 2 keeps the bits
  CharsToBuffer(b, "hello")
  local fd = LFopen(path, 2)
  assert.are.same({ 0, 5, fd }, { LFseek(fd, 16, 1, 0), LFwrite(fd, b, 5), LFclose(fd) }) -- 4294967312
  local f = assert(io.open(path, "rb"))
  assert.are.same({ TWO32 + 21, "\0hello" }, { f:seek("end"), f:seek("set", TWO32 + 15) and f:read("*a") })
  f:close()
  fd = LFopen(path, 0)
  assert.are.same({ 0, 4, "ello", fd }, { LFseek(fd, 17, 1, 0), LFread(fd, b, 4), BufferToChars(b, 0, 4), LFclose(fd) })
  FreeBuffer(b)
end)
