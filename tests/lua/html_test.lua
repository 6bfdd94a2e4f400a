-- The HTML filter through the exported entry points.
package.path = (os.getenv("SCRIPTNET_SOURCE_DIR") or "..") .. "/tests/lua/?.lua;" .. package.path
local t = require("support")

local function filter(text, cont)
  local r, code = net.func("HTML", text, cont)
  t.eq(code, 0, "HTML status")
  return r
end

t.eq(filter("Hello <b>world</b>"), "Hello world", "tags")
t.eq(filter("a > b"), "a  b", "lone >")
t.eq(filter("AT&amp;T"), "AT&amp;T", "entities kept while FIX is off")
t.eq(net.command("HTML", "FIX", "1"), 0, "FIX on")
t.eq(filter("AT&amp;T"), "ATT", "entities removed")
t.eq(filter("x; y"), "x y", "every ; goes")
t.eq(net.command("HTML", "FIX", ""), 0, "FIX off")
t.eq(filter("AT&amp;T"), "AT&amp;T", "entities kept again")
t.eq(net.command("html", "other"), 0, "unknown HTML subcommand is no error")

-- A tag over two lines.
t.eq(filter("abc <font"), "abc ", "open tag")
t.eq(filter("size=2>def", "1"), "def", "continued")
t.eq(filter("abc <font"), "abc ", "open tag again")
t.eq(filter("size=2>def", ""), "size=2def", "fresh start")
t.eq(filter("abc <font"), "abc ", "open tag a third time")
t.eq(filter("   ", ""), "", "blank line")
t.eq(filter("size=2>def", "1"), "def", "blank line kept the state")

-- A whole document, line by line, the way the example filter does it.
local doc = { "<html><head><title>T</title>", "</head><body><p class=", '"x">Para', "graph</p></body>" }
local text = {}
for i, line in ipairs(doc) do text[#text + 1] = filter(line, i > 1 and "1" or "") end
t.eq(table.concat(text, "|"), "T||Para|graph", "document")
print("html: ok")
