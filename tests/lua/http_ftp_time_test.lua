-- The HTTP, FTP and TIME families through the exported entry points, where
-- no server is needed: codes, error texts and the state before any query.
local function check(cond, msg) if not cond then error(msg .. " (IPERROR: " .. net.error() .. ")", 2) end end

-- No page fetched yet: the end mark at once.
check(net.func("HTTP") == "\r", "HTTP function before any GET")
check(net.command("http", "fetch") == 14, "unknown HTTP subcommand")
check(net.command("HTTP", "GET", "http://127.0.0.1:1/") == 206, "refused HTTP connection")
check(net.error() == "Error creating socket", "IPERROR of a refused connection")
check(net.command("HTTP", "GET", "http://127.0.0.1:port/") == 25, "port that is no number")
check(net.command("HTTP", "DOWNLOAD", "http://127.0.0.1:1/", "/tmp/never-written") == 206, "DOWNLOAD refused")

-- FTP without a host name fails to resolve; local files that cannot be read give 240.
check(net.command("FTP", "DOWNLOAD", "remote", "local") == 206, "FTP DOWNLOAD without a host")
check(net.error() == "Couldn't resolve hostname ", "IPERROR without a host")
check(net.command("FTP", "UPLOAD", "/no/such/local/file", "remote") == 240, "UPLOAD of a missing file")
check(net.error():find("Cannot open file", 1, true), "IPERROR of a missing file")
check(net.command("FTP", "LOGON", "127.0.0.1:1") == 206, "refused FTP logon")
check(net.command("FTP", "LOGOFF") == 0, "LOGOFF without a logon")
local entry, code = net.func("FTP", "DIRENTRY")
check(entry == "" and code == 0, "DIRENTRY without a listing")
local _, bad = net.func("FTP", "ENTRY")
check(bad == 13, "unknown FTP sub-function")

-- TIME before any query, and failures.
check(net.func("TIME", "BINARY") == "0", "BINARY before a query")
local r, c = net.func("time", "time", "127.0.0.1:1")
check(r == "" and c == 206, "refused time query")
check(net.func("TIME", "BINARY") == "0", "BINARY after a failed query")
local _, unknown = net.func("TIME", "NOW")
check(unknown == 13, "unknown TIME sub-function")
-- One reading of a server operand in every family (and the HTTP proxy): an
-- empty port is the default one, a bracketed host loses its brackets, a
-- port that is not 1-65535 and an unclosed bracket are 25.
net.command("SMTP", "FROM", "me@example.org")
net.command("SMTP", "RECIPIENTS", "ADD", "you@example.org")
local servers = {
  FTP = function(o) return net.command("FTP", "LOGON", o) end,
  TIME = function(o) return select(2, net.func("TIME", "TIME", o)) end,
  SMTP = function(o) return net.command("SMTP", "SEND", o) end,
  POP3 = function(o) return net.command("POP3", "LOGON", o) end,
  PROXY = function(o)
    net.command("HTTP", "PROXY", o, "", "")
    return net.command("HTTP", "GET", "http://example.org/")
  end,
}
for name, try in pairs(servers) do
  for _, bad in ipairs({ "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:ftp", "127.0.0.1:+21", "[::1", "[::1]x" }) do
    check(try(bad) == 25, name .. " " .. bad)
  end
  check(try("[127.0.0.1]:1") == 206 and net.error() == "Error creating socket", name .. " bracketed host")
  check(try("127.0.0.1:") ~= 25, name .. " with an empty port")
end
net.command("HTTP", "PROXY", "", "", "")
print("web families: ok")
