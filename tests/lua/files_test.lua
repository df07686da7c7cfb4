-- The file family against real files in a temporary directory; Lua's io library and small models are the
-- references. Line pieces of generated files: fuzz/lines_fuzz.cpp; null and missing arguments: badinput_test.
local support = require("support")
support.load()

local TWO32, checked = 2 ^ 32, support.checked
local shell = os.getenv("VODUDID_SHELL_COPY") ~= "0" -- OFF: cp runs without a shell
local dir, b -- a fresh directory and a 128-byte buffer for every test
before_each(function() dir, b = support.tmpdir(), MallocBuffer(128) end)
after_each(function() support.rmtree(dir) FreeBuffer(b) end)

it("every call of one child hands back its decided result; the tree holds only what the rows made", function()
  local long = ("L"):rep(1100) -- read in pieces of 1023 characters
  for name, data in pairs({ f = "abcdefgh", a = "A", one = "only", s = "S", gone = "", wo = "", long = long,
    ["a one"] = "AO", ["o*"] = "*" }) do
    support.writefile(dir .. "/" .. name, data)
  end
  os.execute("mkdir " .. support.quote(dir .. "/sub") .. " " .. support.quote(dir .. "/empty"))
  local _, ebadf = assert(io.open(dir .. "/wo", "w")):read("*l") -- Lua's io gives the read error's text
  -- "cp", two blanks and the paths must fit 1023 characters: paths of 801 + 218 characters fit, 1020 do not.
  local src, pad, text = ("./"):rep(400) .. "s", ("./"):rep(107), ("XYZ"):rep(40)
  local N = "userdata: " .. (jit and "NULL" or "(nil)")
  local rows = { -- call, what it hands back
    { 'fopen("nope", "r"), fopen("new"), LFopen(nil, 2), LFopen("new", 2) >= 0', ("%s %s -1 true"):format(N, N) },
    -- Counts negative after the cut to 32 bits (-1 itself: the bad-input catalogue) move nothing.
    { "fread(h, b, 4294967295), fread(h, b, -4294967300), fwrite(h, b, 2147483648)", "0 0 0" },
    { "LFread(fd, b, -4294967300), LFwrite(fd, b, 4294967295), LFwrite(fd, b, 2147483648)", "nil nil nil" },
    { "fread(h, b, 4294967296 + 3), LFread(fd, b, 4294967296 + 2)", "3 2" }, -- cut to valid counts
    -- LFread and LFwrite hand back the length asked for, or nil when nothing moved.
    { "LFread(fd, b, 0), LFwrite(fd, b, 0), LFread(fd, b, 100), LFread(fd, b, 100)", "nil nil 100 nil" },
    { "fgetALine(z), fgetALine(), fgetALine(w)", "false false false" },
    -- End of file, even after failed opens left errno set.
    { 'fgetALine(o), fopen("nope", "r") and fgetALine(o), LFopen("nope", 0) and fgetALine(o)', '"only" nil nil' },
    { 'fgetALine(fopen("/dev/null", "r")), #fgetALine(l), #fgetALine(l), fgetALine(l)', "nil 1023 77 nil" },
    -- Checking refuses the blank where a shell would see it; without a shell the names are taken whole, "o*" too.
    { 'CopyFile("a", "c"), try(CopyFile, "a one", "sub"), CopyFile("o*", "sub"), DeleteFile("gone"), DeleteFile("empty")',
      checked and shell and '"c" "refused" "sub" "gone" "empty"' or '"c" "sub" "sub" "gone" "empty"' },
    { ("CopyFile(%q, %q)"):format(src, pad .. "/d19"), ('"%s/d19"'):format(pad) },
    { ("CopyFile(%q, %q)"):format(src, pad .. "//d20"), ('"%s//d20"'):format(pad) }, -- one too long: not run
    -- Streams write through their buffer; fclose of a null stream flushes every stream.
    { 'fwrite(q, t, 120), fwrite(q, t, 0), read("q")', '120 0 ""' },
    { 'fclose(z) == z, read("q")', ("true %q"):format(text) },
    { "fclose(q) == q, fread(r, t, 0), fread(r, t, 100), fread(r, t, 64), fread(r, t, 64), BufferToChars(t, 0, 20)",
      ("true 0 100 20 0 %q"):format(text:sub(101)) }, -- short counts at the end
    { "fclose(h) == h, fclose(o) == o, fclose(w) == w, fclose(r) == r, LFclose(fd) == fd, try(LFread, fd, b, 4)",
      checked and 'true true true true true "refused"' or "true true true true true nil" },
  }
  local null_msg = "./filefun.cpp @ 98, file handle == null\n"
  support.rows([[local b, t, h, fd = MallocBuffer(128), MallocBuffer(128), fopen("f", "r+b"), LFopen("f", 1)
    local o, z, w, q, r = fopen("one", "r"), fopen("nope", "r"), fopen("wo", "w"), fopen("q", "wb"), fopen("q", "rb")
    local l = fopen("long", "r")
    local function try(f, ...) local ok, r = pcall(f, ...) if ok then return r end return "refused" end
    local function read(name) local f = io.open(name, "rb") local s = f:read("*a") f:close() return s end
    CharsToBuffer(b, ("XYZ"):rep(40)) CharsToBuffer(t, ("XYZ"):rep(40))]], rows, "FreeBuffer(b) FreeBuffer(t) fclose(l)",
    { cd = dir, prefix = "umask 0; ", stderr = null_msg .. null_msg .. "./filefun.cpp @ 108, " .. ebadf .. "\n" })
  -- Nothing written, created, copied or deleted but what the rows name.
  local want, got = { a = "A", c = "A", d19 = "S", f = "abcdefgh", one = "only", s = "S", wo = "", q = text,
    long = long, ["a one"] = "AO", ["o*"] = "*", ["sub/o*"] = "*", ["sub/one"] = shell and "only" or nil,
    ["sub/a"] = shell and not checked and "A" or nil, ["sub/a one"] = not shell and "AO" or nil }, {}
  for name in support.sh("cd " .. support.quote(dir) .. " && find . -type f ! -name new"):gmatch("%./([^\n]+)") do
    got[name] = support.readfile(dir .. "/" .. name)
  end
  assert.are.same(want, got)
  -- Descriptors create with the bits 0160; a directory is no file to delete.
  assert.are.equal("160\ndirectory\n", (support.sh("cd " .. support.quote(dir) .. " && stat -c %a new && stat -c %F empty")))
end)

it("fseek cuts the offset to 32 bits and hands back the origin, like Lua's seek", function()
  local path = dir .. "/digits"
  support.writefile(path, "0123456789abcdefghij")
  for _, row in ipairs({ { 10, 0 }, { 4294967295, 1 }, { 3, 1 }, { -3, 2 }, { TWO32 + 2, 0 }, { 4294967291, 2 }, { 0, 2 },
    { 2, 3 } }) do
    local h, f = fopen(path, "rb"), assert(io.open(path, "rb"))
    f:seek("set", 5)
    if row[2] < 3 then f:seek(({ [0] = "set", "cur", "end" })[row[2]], (row[1] + 2 ^ 31) % TWO32 - 2 ^ 31) end
    local want = f:read(1) -- an origin other than 0, 1, 2 moves nothing
    assert.are.same({ 5, row[2], want and 1 or 0, want }, { fread(h, b, 5), fseek(h, row[1], row[2]), fread(h, b, 1),
      want and BufferToChars(b, 0, 1) }, row[1] .. "/" .. row[2])
    fclose(h); f:close()
  end
end)

it("LFopen takes modes 0, 1, 2 (cut to 32 bits, missing is 0), refuses others, never truncates", function()
  for i, row in ipairs({ -- mode, whether "abcdef" is there, whether it opens, whether it writes
    { 0, true, true, false }, { 1, true, true, true }, { 2, true, true, true }, { 0, false, false }, { 1, false, false },
    { 2, false, true, true }, { 3, true, false }, { TWO32, true, true, false },
    { TWO32 + 2, false, true, true }, { nil, true, true, false } }) do
    local path, what = dir .. "/f" .. i, "row " .. i
    if row[2] then support.writefile(path, "abcdef") end
    local fd = LFopen(path, row[1])
    assert.are.equal(row[3] and true or -1, row[3] and fd >= 0 or fd, what)
    assert.are.equal(row[2] or row[3], os.rename(path, path) ~= nil, what) -- created only by mode 2
    if fd >= 0 then
      CharsToBuffer(b, "XY----")
      assert.are.equal(row[4] and 2 or nil, LFwrite(fd, b, 2), what)
      LFseek(fd, 0, 0, 0)
      local want = row[2] and (row[4] and "XYcdef" or "abcdef") or "XY----" -- 6 asked for, even if short
      assert.are.same({ 6, want, fd }, { LFread(fd, b, 6), BufferToChars(b, 0, 6), LFclose(fd) }, what)
    end
  end
end)

it("LFseek composes the offset from unmasked halves, past 4 GiB too", function()
  local path = dir .. "/sparse"
  support.writefile(path, ("0123456789abcdefghijklmnopqrstuvwxyz"):rep(9))
  CharsToBuffer(b, "hello")
  local fd = LFopen(path, 2) -- an existing file: nothing truncated
  assert.are.same({ 0, 5, fd }, { LFseek(fd, 16, 1, 0), LFwrite(fd, b, 5), LFclose(fd) }) -- at 4294967312
  local f = assert(io.open(path, "rb"))
  assert.are.same({ TWO32 + 21, "\0hello" }, { f:seek("end"), f:seek("set", TWO32 + 15) and f:read("*a") })
  -- low, high, origin, then the position reached from byte 100
  for _, row in ipairs({ { 16, 0, 0, 16 }, { 5, 0, 1, 105 }, { -1, 7, 1, 99 }, { 4294967295, 4294967295, 1, 99 },
    { 250, TWO32, 0, 250 }, { 17, 1, 0, TWO32 + 17 }, { -4, 0, 2, TWO32 + 17 } }) do
    fd = LFopen(path, 0)
    LFread(fd, b, 100)
    f:seek("set", row[4])
    assert.are.same({ row[3], 1, f:read(1), fd }, { LFseek(fd, row[1], row[2], row[3]), LFread(fd, b, 1),
      BufferToChars(b, 0, 1), LFclose(fd) }, table.concat(row, ", "))
  end
  f:close()
end)
