-- The families over IPv6, against servers on ::1.
-- arg: http port, ftp port, ftp folder, work folder, smtp port, pop3 port, time port
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check, sha = t.check, t.sha
local http, ftp, served, work, smtp, pop3, time = table.unpack(arg)

-- HTTP: the brackets stay in the Host header; the proxy is reached at ::1 too.
check(net.command("HTTP", "GET", "http://[::1]:" .. http .. "/host") == 0, "HTTP GET")
local page = t.lines("HTTP")
check(page[1] == "host=[::1]:" .. http, "Host header: " .. tostring(page[1]))
check(net.command("HTTP", "DOWNLOAD", "http://[::1]:" .. http .. "/page.txt", work .. "/page.txt") == 0,
      "HTTP DOWNLOAD")
check(sha(work .. "/page.txt") == sha(work .. "/nginx/www/page.txt"), "downloaded page")

-- FTP: passive (EPSV) and active (EPRT) transfers both ways.
net.command("FTP", "USERNAME", "scriptnet")
net.command("FTP", "PASSWORD", "scriptnet-pw")
check(net.command("FTP", "LOGON", "[::1]:" .. ftp) == 0, "FTP LOGON")
for _, mode in ipairs({ "", "on" }) do
  net.command("FTP", "ACTIVE", mode)
  local name = "up" .. mode .. ".bin"
  check(net.command("FTP", "UPLOAD", work .. "/upload.bin", name) == 0, "UPLOAD " .. mode)
  check(sha(served .. "/" .. name) == sha(work .. "/upload.bin"), "uploaded " .. mode)
  check(net.command("FTP", "DOWNLOAD", name, work .. "/back" .. mode .. ".bin") == 0, "DOWNLOAD " .. mode)
  check(sha(work .. "/back" .. mode .. ".bin") == sha(work .. "/upload.bin"), "round trip " .. mode)
end
check(net.command("FTP", "GETDIR", "") == 0 and net.func("FTP", "DIRENTRY") ~= "", "GETDIR active")
check(net.command("FTP", "LOGOFF") == 0, "FTP LOGOFF")
net.command("FTP", "ACTIVE", "")

-- SMTP into aiosmtpd and back out of dovecot over POP3.
net.command("SMTP", "FROM", "six@example.org")
net.command("SMTP", "RECIPIENTS", "ADD", "test@example.org")
net.command("SMTP", "SUBJECT", "over IPv6")
net.command("SMTP", "MESSAGE", "ADD", "sent to ::1")
check(net.command("SMTP", "SEND", "[::1]:" .. smtp) == 0, "SMTP SEND")
net.command("POP3", "USERNAME", "test")
net.command("POP3", "PASSWORD", "secret")
check(net.command("POP3", "LOGON", "[::1]:" .. pop3) == 0, "POP3 LOGON")
check(net.command("POP3", "GETHEADERS") == 0, "GETHEADERS")
check(net.func("POP3", "SUBJECT", "0") == "over IPv6", "subject read back")
net.command("POP3", "LOGOFF")

-- TIME from xinetd; a refused address of either family is the usual failure.
local text = net.func("TIME", "TIME", "[::1]:" .. time)
check(net.status() == 0 and text:match("^%d%d%d%d%-%d%d%-%d%d"), "TIME: " .. text)
check(net.func("TIME", "TIME", "::1") == "" and net.status() == 206, "refused TIME")
check(net.error() == "Error creating socket", "IPERROR " .. net.error())
print("ipv6 checks: ok")
