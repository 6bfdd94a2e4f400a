-- nethost's own handling of bad scripts and bad calls: a message and a
-- non-zero exit, never a crash.
package.path = (os.getenv("SCRIPTNET_SOURCE_DIR") or "..") .. "/tests/lua/?.lua;" .. package.path
local t = require("support")

local function fails(script, pattern, what, opts)
  local out, err, code = t.run(script, opts)
  t.check(code ~= 0, what .. ": exit code 0", 2)
  t.check(err:find(pattern), what .. ": message " .. err, 2)
  return out, err, code
end

fails("this is not lua", "syntax error", "syntax error")
fails("error('boom')", "boom", "runtime error")
fails("error({})", "error object", "error that is not a text")
fails("net.command()", "bad argument", "command without a name")
fails("net.func()", "bad argument", "function without a name")
fails("net.command('HTML', 'FIX', string.rep('x', 70000))", "argument block", "operands past the block")
fails("net.lines()", "bad argument", "lines without a name")
fails("net.onevent = function() error('in handler') end net.wait(0.01) error('x')", "x", "handler set, no events")
fails("local t = setmetatable({}, {__tostring = function() error('no text') end}) net.command(t)",
  "no text", "argument whose __tostring fails")
fails("print(net.nosuch())", "nosuch", "unknown net field")

-- The script's own exit code passes through; arguments reach arg.
local out, err, code = t.run("os.exit(3)")
t.eq(code, 3, "os.exit code")
local file = t.tempfile("io.write(arg[0] ~= nil and 'script' or '', ' ', arg[1], ' ', #arg)")
out, err, code = t.run(nil, { args = { file, "one", "two" } })
t.eq(out, "script one 2", "script arguments: " .. err)
out, err, code = t.run(nil, { args = { "-e", "io.write((net.func('VERSION')))" } })
t.eq(out, "2.6", "inline chunk: " .. err)
t.eq(code, 0, "inline chunk exit")

-- nethost starts itself once more to tune the heap: the script still sees
-- the environment it was given, and a user's own glibc settings stay.
local envScript = "io.write(tostring(os.getenv('GLIBC_TUNABLES')), ' ', tostring(os.getenv('KEEP')), ' ', arg[1])"
out, err, code = t.run(nil, { args = { "-e", envScript, "x y" }, env = { GLIBC_TUNABLES = false, KEEP = "kept" } })
t.eq(out, "nil kept x y", "environment after the restart: " .. err)
out, err, code = t.run(nil, { args = { "-e", envScript, "z" }, env = { GLIBC_TUNABLES = "glibc.malloc.check=0" } })
t.eq(out, "glibc.malloc.check=0 nil z", "a user's GLIBC_TUNABLES: " .. err)
out, err, code = t.run("io.write(io.read('a'))", { stdin = "standard input survives" })
t.eq(out, "standard input survives", "standard input after the restart: " .. err)

-- Usage errors and a library that cannot be loaded.
out, err, code = t.run(nil, { args = {} })
t.eq(code, 2, "no arguments")
t.check(err:find("usage"), "usage text")
out, err, code = t.run(nil, { args = { "-e" } })
t.eq(code, 2, "-e without code")
out, err, code = t.run(nil, { args = { "/nonexistent/script.lua" } })
t.check(code ~= 0 and err:find("cannot open"), "missing script: " .. err)
out, err, code = t.run(nil, { args = { "--lib", "/nonexistent/lib.so", "-e", "print(1)" } })
t.check(code ~= 0 and err:find("cannot load"), "missing library: " .. err)
out, err, code = t.run(nil, { args = { "--lib", "/bin/true", "-e", "print(1)" } })
t.check(code ~= 0 and err:find("cannot load"), "not a library: " .. err)
out, err, code = t.run(nil, { args = { "--lib", "libc.so.6", "-e", "print(1)" } })
t.check(code ~= 0 and err:find("entry points"), "library without the entry points: " .. err)

-- net.wait with no events returns an empty list; net.stop ends a wait.
out, err, code = t.run([[
local events = net.wait(0.05)
assert(type(events) == "table" and #events == 0)
net.stop()
assert(#net.wait(0) == 0)
assert(#net.events() == 0)
io.write("ok")
]])
t.eq(out, "ok", "wait: " .. err)

-- net.wait takes any number: NaN and anything not above zero only look, a
-- wait longer than the clock can count lasts until net.stop (here at the
-- ERROR of a refused connection). Bounded by timeout: a wait that never
-- ends fails the test.
out, err, code = t.run(nil, { program = "timeout", args = { "20", t.nethost, "-e", [[
for _, s in ipairs { 0 / 0, -(0 / 0), -math.huge, -1, -0.0, 0 } do assert(#net.wait(s) == 0) end
net.onevent = function(name) io.write(name, " ") net.stop() end
for _, s in ipairs { math.huge, 1e300, 2 ^ 63 } do
  net.command("SOCKET", "PORT", "1")
  net.command("SOCKET", "ADDR", "127.0.0.1")
  net.command("SOCKET", "CLIENT")
  net.wait(s)
  net.command("SOCKET", "CLOSE")
end
]] } })
t.eq(out, "ERROR ERROR ERROR ", "waits of any length: " .. err .. " exit " .. tostring(code))

-- net.lines over a function with an end mark; a failing function ends with an error.
out, err, code = t.run([[
local n = 0
for line in net.lines("CGI", "REPLACE", "\r") do n = n + 1 end
io.write(n)
for line in net.lines("CGI", "CONVERT", "%zz") do n = n + 1 end
]])
t.eq(out, "0", "lines up to the end mark")
t.check(code ~= 0 and err:find("line function failed with code 25"), "lines over a failing function: " .. err)
-- A line longer than one result is given whole, joined from its pieces.
out, err = t.run([[
local next = net.lines("CGI", "REPLACE", string.rep("ab", 30000), "b", "bcd")
local line = next()
io.write(#line, " ", line == string.rep("abcd", 30000) and "same" or "differs")
]])
t.eq(out, "120000 same", "a line joined from pieces: " .. err)

-- -v and net.trace show the dialogue on standard error; --help lists the
-- options; an unknown option is a usage error.
local refused = "net.command('HTTP', 'GET', 'http://127.0.0.1:1/')"
out, err, code = t.run(nil, { args = { "-v", "-e", refused } })
t.check(code == 0 and err:find("* Failed to open output socket 1 to host 127.0.0.1\n", 1, true), "-v: " .. err)
out, err, code = t.run("net.trace(true) " .. refused .. " net.trace(false) " .. refused)
local _, traced = err:gsub("Failed to open", "")
t.eq(traced, 1, "net.trace on, then off: " .. err)
out, err, code = t.run(refused)
t.eq(err, "", "no trace unless asked")
out, err, code = t.run(nil, { args = { "--help" } })
t.check(code == 0 and out:find("-v", 1, true) and out:find("man nethost", 1, true), "--help: " .. out)
out, err, code = t.run(nil, { args = { "-x", "-e", "print(1)" } })
t.check(code == 2 and err:find("usage"), "unknown option: " .. err)

-- The Lua module in Debian's interpreter: the same table, without a global,
-- found by require however often it is asked for.
local lua = os.getenv("SCRIPTNET_LUA") or ""
if lua ~= "" then
  out, err, code = t.run([[
local net = require "scriptnet"
assert(rawequal(net, require "scriptnet") and _G.net == nil)
net.trace(true)
io.write(net.func("VERSION"), " ", net.command("HTTP", "GET", "http://127.0.0.1:1/"))
]], { program = lua, env = { LUA_CPATH = t.build .. "/?.so" } })
  t.eq(out, "2.6 206", "module: " .. err)
  t.check(err:find("* Failed to open output socket 1", 1, true), "module trace: " .. err)
end

t.cleanup()
print("nethost: ok")
