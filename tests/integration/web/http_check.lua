-- arg: http port, proxy port, served folder, output folder, stored POST bodies folder
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check, sha = t.check, t.sha
local port, proxyPort, www, out, bodies = arg[1], arg[2], arg[3], arg[4], arg[5]
local base = "http://127.0.0.1:" .. port

-- A page read line by line to the end mark, which then repeats.
check(net.command("HTTP", "GET", base .. "/page.txt") == 0, "GET page")
local lines = t.lines("HTTP")
check(#lines == 4 and lines[1] == "first line" and lines[2] == "second line" and lines[3] == ""
      and lines[4] == "last line", "page lines: " .. table.concat(lines, "|"))
check(net.func("HTTP") == "\r", "end mark repeats")

-- Without a protocol the URL is still HTTP.
check(net.command("HTTP", "GET", "127.0.0.1:" .. port .. "/dest/page.txt") == 0, "GET no protocol")
check(net.func("HTTP") == "the destination", "page without protocol")

-- The Host header picks the right virtual server.
check(net.command("HTTP", "GET", base .. "/host") == 0, "GET host")
check(net.func("HTTP") == "host=127.0.0.1:" .. port, "Host header")

-- Binary downloads of every size, byte for byte; the page lines stay.
net.command("HTTP", "GET", base .. "/page.txt")
net.func("HTTP")
for _, name in ipairs { "empty.bin", "one.bin", "mib.bin", "big.bin" } do
  check(net.command("HTTP", "DOWNLOAD", base .. "/" .. name, out .. "/" .. name) == 0, "DOWNLOAD " .. name)
  check(sha(out .. "/" .. name) == sha(www .. "/" .. name), "content of " .. name)
end
check(net.func("HTTP") == "second line", "DOWNLOAD leaves the page lines alone")

-- POST: the server stores what it got.
check(net.command("HTTP", "UPLOAD", www .. "/mib.bin", base .. "/upload") == 0, "UPLOAD")
local stored = t.listdir(bodies)
check(#stored == 1 and sha(bodies .. "/" .. stored[1]) == sha(www .. "/mib.bin"), "stored body")

-- Redirects: absolute, relative to the root, relative to the folder.
for _, path in ipairs { "/moved-absolute", "/moved", "/dest/relative" } do
  check(net.command("HTTP", "GET", base .. path) == 0, "GET " .. path)
  check(net.func("HTTP") == "the destination", "redirect " .. path)
end

-- An error status is no failure; the body is the server's error document.
check(net.command("HTTP", "GET", base .. "/nosuch") == 0, "GET 404")
local doc = table.concat(t.lines("HTTP"), "\n")
check(doc:find("404 Not Found", 1, true) and not doc:find("Server:", 1, true), "404 document: " .. doc)

-- Through the proxy, with and without the right credentials.
check(net.command("HTTP", "PROXY", "127.0.0.1:" .. proxyPort, "proxyuser", "proxypass") == 0, "PROXY")
check(net.command("HTTP", "GET", base .. "/host") == 0, "GET through proxy")
check(net.func("HTTP") == "host=127.0.0.1:" .. port, "proxied Host")
check(net.command("HTTP", "DOWNLOAD", base .. "/mib.bin", out .. "/proxied.bin") == 0, "DOWNLOAD through proxy")
check(sha(out .. "/proxied.bin") == sha(www .. "/mib.bin"), "proxied content")
check(net.command("HTTP", "GET", "127.0.0.1:" .. port .. "/moved") == 0, "redirect through proxy")
check(net.func("HTTP") == "the destination", "proxied redirect")
net.command("HTTP", "PROXY", "127.0.0.1:" .. proxyPort, "proxyuser", "wrong")
check(net.command("HTTP", "GET", base .. "/page.txt") == 0, "GET with wrong proxy credentials")
check(table.concat(t.lines("HTTP"), "\n"):find("401", 1, true), "proxy refuses wrong credentials")
check(net.command("HTTP", "PROXY", "", "", "") == 0, "back to direct")
check(net.command("HTTP", "GET", base .. "/page.txt") == 0 and net.func("HTTP") == "first line", "direct again")

-- Credentials go to the server the URL names, not to another host a
-- redirection leads to.
check(net.command("HTTP", "PROXY", "", "user", "pw") == 0, "direct with credentials")
check(net.command("HTTP", "GET", base .. "/auth") == 0, "GET with credentials")
check(net.func("HTTP") == "authorization=Basic dXNlcjpwdw==", "credentials sent to their server")
check(net.command("HTTP", "GET", base .. "/to-other-host") == 0, "redirect to another host")
check(net.func("HTTP") == "authorization=", "no credentials for another host")

-- A page too large to hold in memory is refused as soon as its length is
-- known; DOWNLOAD is for such pages.
check(net.command("HTTP", "GET", base .. "/huge.bin") == 206, "GET of a page past the cap")
check(net.error() == "Answer of 314572800 bytes is larger than 256 MiB; HTTP DOWNLOAD writes it to a file",
      "IPERROR of a page past the cap: " .. net.error())

-- Local file failures: code 240, a clear text, nothing half-written.
check(net.command("HTTP", "UPLOAD", out .. "/missing.bin", base .. "/upload") == 240, "UPLOAD of a missing file")
check(net.error():find("Cannot open file", 1, true), "IPERROR of a missing file")
check(net.command("HTTP", "DOWNLOAD", base .. "/mib.bin", out .. "/no/such/folder/x.bin") == 240, "DOWNLOAD into a missing folder")
check(#t.listdir(bodies) == 1, "no body stored for the failed upload")

-- Unreachable and unknown hosts.
check(net.command("HTTP", "GET", "http://127.0.0.1:1/") == 206, "refused connection")
check(net.error() == "Error creating socket", "IPERROR of a refused connection")
check(net.command("HTTP", "GET", "http://127.0.0.1:notaport/") == 25, "port that is no number")
check(net.command("HTTP", "OTHER") == 14, "unknown subcommand")
print("http checks: ok")
