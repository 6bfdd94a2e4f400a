-- Bad input from a script never crashes the host: missing operands, texts
-- that should be numbers, operands that fill the whole block, binary texts.
package.path = (os.getenv("SCRIPTNET_SOURCE_DIR") or "..") .. "/tests/lua/?.lua;" .. package.path
local t = require("support")

-- Missing operands: every local subcommand and sub-function with none.
t.eq(net.command("HTML"), 0, "HTML alone")
t.eq(net.command("HTML", "FIX"), 0, "FIX without value")
t.eq(net.command("CGI"), 14, "CGI alone")
t.eq(net.command("CGI", "PARSE"), 0, "PARSE without text")
t.eq(net.func("CGI", "PARSE", ""), "", "field of the empty name")
for _, sub in ipairs({ "CONVERT", "PARSE", "REPLACE" }) do
  local r, code = net.func("CGI", sub)
  t.eq(r, "", sub .. " without operands")
  t.eq(code, 0, sub .. " status")
end
local r, code = net.func("HTML")
t.eq(r .. code, "0", "HTML function without text")
r, code = net.func("")
t.eq(code, 13, "empty function name")
t.eq(net.command(""), 14, "empty command name")

-- Texts that should be numbers or escapes.
for _, bad in ipairs({ "%", "%G1", "%%", "abc%", "%4%" }) do
  r, code = net.func("CGI", "CONVERT", bad)
  t.eq(code, 25, "CONVERT " .. bad)
  t.eq(net.status(), 25, "status after CONVERT " .. bad)
end
t.eq(net.command("CGI", "PARSE", "a=%zz"), 25, "PARSE with a bad escape")

-- Operands as long as the block allows.
local head = #"CGI" + 1 + #"CONVERT" + 1
local long = string.rep("%41", (65535 - head) // 3)
r, code = net.func("CGI", "CONVERT", long)
t.eq(code, 0, "long CONVERT")
t.eq(#r, (65535 - head) // 3, "long CONVERT length")
local filler = string.rep("<b>x</b>", 8000)
r = net.func("HTML", filler, "")
t.eq(r, string.rep("x", 8000), "long HTML line")
t.eq(net.command(string.rep("H", 65535)), 14, "name filling the block")
r, code = net.func(string.rep("v", 65535))
t.eq(code, 13, "function name filling the block")
t.check(not pcall(net.func, string.rep("v", 65536)), "a name past the block is refused")
t.check(not pcall(net.command, "CGI", "PARSE", string.rep("v", 65536 - 10)), "operands past the block")
-- 65535 characters through REPLACE and back.
r, code = net.func("CGI", "REPLACE", string.rep("ab", 21845), "ab", "xyz")
t.eq(code, 0, "long REPLACE")
t.eq(#r, 65535, "result fills the buffer")
r = net.func("CGI", "REPLACE", string.rep("a", 30000), "a", "bcd")
t.eq(#r, 65535, "longer results are cut to the buffer")

-- Every byte but NUL, as names, subcommands and operands.
local bytes = {}
for b = 1, 255 do bytes[#bytes + 1] = string.char(b) end
local binary = table.concat(bytes)
t.eq(net.command(binary, binary, binary), 14, "binary command name")
t.eq(net.command("HTML", binary, binary), 0, "binary HTML subcommand")
t.eq(net.command("CGI", binary), 14, "binary CGI subcommand")
r, code = net.func("CGI", "CONVERT", (binary:gsub("%%", "")))
t.eq(code, 0, "binary CONVERT")
t.eq(#r, 254, "binary CONVERT keeps every byte")
r, code = net.func("HTML", binary, "")
t.eq(code, 0, "binary HTML")
t.check(not r:find("[<>]"), "binary HTML has no brackets left")
t.eq(net.command("CGI", "PARSE", binary), 25, "binary PARSE holds a bad escape")
t.eq(net.command("CGI", "PARSE", (binary:gsub("%%", ""))), 0, "binary PARSE without %")
t.eq(net.func("CGI", "REPLACE", binary, binary:sub(10, 20), ""), binary:sub(1, 9) .. binary:sub(21), "binary REPLACE")
-- Non-text Lua values are passed as their text form.
t.eq(net.func("CGI", "REPLACE", 12345, 3, true), "12true45", "numbers and booleans")

-- Every family with nonsense gives its code and no crash.
for _, name in ipairs({ "HTTP", "FTP", "POP3", "SMTP", "NETC", "SOCKET", "CGI", "IMAP" }) do
  t.eq(net.command(name, "NOSUCH", "x"), 14, name .. " NOSUCH")
end
for _, name in ipairs({ "FTP", "POP3", "SOCKET", "CGI", "TIME", "IMAP" }) do
  r, code = net.func(name, "NOSUCH")
  t.eq(code, 13, name .. " NOSUCH function")
end
t.eq(net.func("version", "x", "y"), "2.6", "VERSION ignores operands")

-- The table's functions from a fresh coroutine, whose stack is small, with
-- as many texts as they take: net.lines's iterator pushes all it keeps.
local texts = { "CGI", "REPLACE", "ab\r", "b\r", "" }
for i = #texts + 1, 200 do texts[i] = "unused" end
local next_line = net.lines(table.unpack(texts))
t.eq(coroutine.wrap(function() return next_line() end)(), "a", "200 texts through net.lines")
t.eq(coroutine.wrap(function() return net.func(table.unpack(texts)) end)(), "a", "200 texts through net.func")
t.eq(coroutine.wrap(function() return net.command("HTML", table.unpack(texts)) end)(), 0, "200 texts through net.command")
t.eq(type(coroutine.wrap(function() return net.wait(0) end)()), "table", "net.wait in a coroutine")

-- IMAP refuses what it could not send as written before it needs a server.
for _, bad in ipairs({ { "SEARCH", "FROM a\rB" }, { "SEARCH", 'SUBJECT "open' }, { "GETMAIL", "0" },
  { "GETMAIL", "4294967296" }, { "IDLE", "soon" }, { "FLAG", "1", "\\Seen" }, { "TIMEOUT", "-1" } }) do
  t.eq(net.command("IMAP", table.unpack(bad)), 25, "IMAP " .. table.concat(bad, " "))
end
t.eq(net.command("IMAP", "AUTH", "CRAM-MD5"), 14, "IMAP AUTH of an unknown mechanism")
t.eq(net.command("IMAP", "SELECT", "INBOX"), 206, "IMAP SELECT before LOGON")
t.eq(net.error(), "Not logged on to an IMAP server (LOGON first)", "its reason")
t.eq(net.func("IMAP", "FOLDER", "0") .. net.func("IMAP", "STATUS") .. net.func("IMAP", "MAIL", "0"), "\r",
  "IMAP functions before anything was read")
print("bad input: ok")
