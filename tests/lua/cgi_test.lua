-- CGI as a web server runs it: nethost as a child with the request in its
-- environment and standard input, its response on standard output.
package.path = (os.getenv("SCRIPTNET_SOURCE_DIR") or "..") .. "/tests/lua/?.lua;" .. package.path
local t = require("support")

local handler = [[
local rc = net.command("CGI", "AUTOPARSE")
net.command("CGI", "WRITE", "Content-Type: text/plain")
net.command("CGI", "WRITE", "")
net.command("CGI", "WRITE", "rc=" .. rc)
for _, name in ipairs({ "name", "msg", "long" }) do
  net.command("CGI", "WRITE", name .. "=" .. net.func("CGI", "PARSE", name))
end
]]

-- POST: the body is decoded.
local body = "name=J%C3%B6rg+X&msg=a%2Bb%20c%25d"
local out, err, code = t.run(handler, {
  env = { REQUEST_METHOD = "POST", CONTENT_LENGTH = tostring(#body), QUERY_STRING = false },
  stdin = body .. "trailing bytes are not read" })
t.eq(code, 0, "exit code: " .. err)
t.eq(out, "Content-Type: text/plain\r\n\r\nrc=0\r\nname=J\xC3\xB6rg X\r\nmsg=a+b c%d\r\nlong=\r\n", "POST response")

-- GET: the query is kept as it is, however long.
local long = string.rep("0123456789", 400)
out, err, code = t.run(handler, {
  env = { REQUEST_METHOD = "GET", QUERY_STRING = "name=a+b&long=" .. long } })
t.eq(code, 0, err)
t.eq(out, "Content-Type: text/plain\r\n\r\nrc=0\r\nname=a+b\r\nmsg=\r\nlong=" .. long .. "\r\n", "GET response")

-- GET without QUERY_STRING: one empty pair, no error.
out = t.run(handler, { env = { REQUEST_METHOD = "GET", QUERY_STRING = false } })
t.check(out:find("rc=0\r\n", 1, true), "absent query: " .. out)

-- Other methods, bad lengths, and a body shorter than announced.
out = t.run(handler, { env = { REQUEST_METHOD = false } })
t.check(out:find("rc=207\r\n", 1, true), "no method: " .. out)
out = t.run(handler, { env = { REQUEST_METHOD = "HEAD" } })
t.check(out:find("rc=207\r\n", 1, true), "HEAD: " .. out)
out = t.run(handler, { env = { REQUEST_METHOD = "POST", CONTENT_LENGTH = false } })
t.check(out:find("rc=25\r\n", 1, true), "no length: " .. out)
out = t.run(handler, { env = { REQUEST_METHOD = "POST", CONTENT_LENGTH = "ten" } })
t.check(out:find("rc=25\r\n", 1, true), "length not a number: " .. out)
out = t.run(handler, { env = { REQUEST_METHOD = "POST", CONTENT_LENGTH = "100" }, stdin = "name=x" })
t.check(out:find("rc=208\r\nname=\r\n", 1, true), "short body: " .. out)
-- A huge announced length with a small body ends at the body's end.
out = t.run(handler, { env = { REQUEST_METHOD = "POST", CONTENT_LENGTH = "9000000000000" }, stdin = "name=x" })
t.check(out:find("rc=208\r\n", 1, true), "huge length: " .. out)

-- READL line by line until the end of input, READ of the body.
local reader = [[
local lines = {}
while true do
  local line, code = net.func("CGI", "READL")
  if code ~= 0 then lines[#lines + 1] = "code " .. code break end
  lines[#lines + 1] = "[" .. line .. "]"
end
io.write(table.concat(lines, " "))
]]
out, err, code = t.run(reader, { stdin = "one\r\ntwo\n\nlast" })
t.eq(code, 0, err)
t.eq(out, "[one] [two] [] [last] code 208", "READL")
out = t.run(reader, {})
t.eq(out, "code 208", "READL of empty input")
-- A line longer than one result comes in pieces, each but the last with
-- code 242; nothing of it is lost.
out, err = t.run([[
local sizes, line = {}, ""
repeat
  local piece, code = net.func("CGI", "READL")
  sizes[#sizes + 1], line = #piece .. ":" .. code, line .. piece
until code ~= 242
local nextLine, code = net.func("CGI", "READL")
io.write(table.concat(sizes, " "), " ", line == string.rep("0123456789", 10000) and "same" or "differs",
  " ", nextLine, " ", code)
]], { stdin = string.rep("0123456789", 10000) .. "\nafter\n" })
t.eq(out, "65535:242 34465:0 same after 0", "READL of a long line: " .. err)

local bodyReader = [[
local r, code = net.func("CGI", "READ")
io.write(code, ":", r)
]]
t.eq(t.run(bodyReader, { env = { CONTENT_LENGTH = "5" }, stdin = "abcdefg" }), "0:abcde", "READ")
t.eq(t.run(bodyReader, { env = { CONTENT_LENGTH = "0" }, stdin = "abc" }), "0:", "READ of 0")
t.eq(t.run(bodyReader, { env = { CONTENT_LENGTH = "-3" }, stdin = "abc" }), "0:", "READ of a negative length")
t.eq(t.run(bodyReader, { env = { CONTENT_LENGTH = "9" }, stdin = "abc" }), "208:abc", "READ past the end")
t.eq(t.run(bodyReader, { env = { CONTENT_LENGTH = false } }), "25:", "READ without length")
-- A body longer than one result comes in pieces of 65535 bytes, in order,
-- until CONTENT_LENGTH bytes are given; the call after them starts a new
-- body (here: the input has ended).
local pieceReader = [[
local want, got, sizes = tonumber(os.getenv("CONTENT_LENGTH")), {}, {}
local total = 0
while total < want do
  local r, code = net.func("CGI", "READ")
  if code ~= 0 then break end
  got[#got + 1], sizes[#sizes + 1], total = r, #r, total + #r
end
local _, after = net.func("CGI", "READ")
io.write(table.concat(sizes, ","), ";", after, ";", table.concat(got))
]]
local counted = {}
for i = 1, 300000 do counted[i] = string.format("%06d\n", i) end
local big = table.concat(counted) .. "tail"
local expect = {}
for k = 1, #big // 65535 do expect[k] = "65535" end
expect[#expect + 1] = tostring(#big % 65535)
t.eq(t.run(pieceReader, { env = { CONTENT_LENGTH = tostring(#big) }, stdin = big .. "next" }),
  table.concat(expect, ",") .. ";208;" .. big, "a large body in pieces")
t.eq(t.run(pieceReader, { env = { CONTENT_LENGTH = "131070" }, stdin = string.rep("y", 131070) }),
  "65535,65535;208;" .. string.rep("y", 131070), "a body of exactly two pieces")

-- Standard streams that fail: a closed standard output or standard input.
local writer = [[
local rc = net.command("CGI", "WRITE", "x")
io.stderr:write("rc=", rc)
]]
local _, werr = t.run(writer, { redirect = ">&-" })
t.eq(werr, "rc=209", "WRITE to a closed standard output")
local _, rerr = t.run([[
local r, code = net.func("CGI", "READL")
io.stderr:write("code=", code)
]], { redirect = "<&-" })
t.eq(rerr, "code=209", "READL from a closed standard input")

-- WRITE output and Lua's own output keep their order.
out = t.run([[
io.write("A")
net.command("CGI", "WRITE", "B")
io.write("C")
]])
t.eq(out, "AB\r\nC", "output order")

t.cleanup()
print("cgi: ok")
