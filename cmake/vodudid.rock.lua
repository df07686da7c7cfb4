-- The LuaRocks description of the module (scripts/rock.sh runs luarocks
-- make with it from the checkout): builds vodUdid.so with the project's own
-- CMake build and installs it into the rocks tree, where `require "vodUdid"`
-- finds it.
rockspec_format = "3.0"
package = "vodudid"
version = "1.0.0-1"
source = {
  url = "git+file:///vodUdid", -- a local checkout: luarocks make builds the folder it runs in
  tag = "v1.0.0",
}
description = {
  summary = "Lua 5.1 globals for raw buffers, hex text, checksums and files",
  detailed = [[
For scripts ported from Windows hosts: 48 Lua globals that allocate raw memory
buffers, convert bytes to and from hex text, read and write 8-, 16- and 32-bit
fields, compute CRC-32 and word sums, carry 64-bit values as two halves, and
reach files through C streams and POSIX descriptors. x86-64 Linux.]],
  license = "MIT",
}
supported_platforms = { "linux" }
dependencies = { "lua == 5.1" }
build = {
  type = "cmake",
  variables = {
    CMAKE_BUILD_TYPE = "Release",
    BUILD_TESTING = "OFF",
    VODUDID_BENCH = "OFF",
  },
  -- Only the module goes into the tree; the library, the host and the
  -- development files are for `cmake --install` and the Debian package.
  install_pass = false,
  install = { lib = { vodUdid = "build.luarocks/lua/vodUdid.so" } },
}
