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
print("web families: ok")
