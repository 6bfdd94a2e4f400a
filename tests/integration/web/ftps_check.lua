-- arg: certificate folder, output folder, explicit host:port, its folder,
-- implicit host:port, its folder, user, password
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check, sha = t.check, t.sha
local certs, out = arg[1], arg[2]
local servers = { { mode = "STARTTLS", host = arg[3], dir = arg[4] },
                  { mode = "TLS", host = arg[5], dir = arg[6] } }
local user, password = arg[7], arg[8]

net.command("TLS", "CAFILE", certs .. "/ca.pem")
net.command("FTP", "USERNAME", user)
net.command("FTP", "PASSWORD", password)

-- The server wants TLS: a clear-text logon is refused.
net.command("FTP", "SECURE", "")
check(net.command("FTP", "LOGON", servers[1].host) == 206, "clear-text logon refused")

for _, s in ipairs(servers) do
  check(net.command("FTP", "SECURE", s.mode) == 0, "SECURE " .. s.mode)
  check(net.command("FTP", "LOGON", s.host) == 0, "LOGON with " .. s.mode)
  local got = out .. "/ftps-" .. s.mode .. ".bin"
  check(net.command("FTP", "DOWNLOAD", "down.bin", got) == 0, "DOWNLOAD with " .. s.mode)
  check(sha(got) == sha(s.dir .. "/down.bin"), "content with " .. s.mode)
  check(net.command("FTP", "UPLOAD", got, "up.bin") == 0, "UPLOAD with " .. s.mode)
  check(sha(s.dir .. "/up.bin") == sha(got), "stored with " .. s.mode)
  check(net.command("FTP", "GETDIR", "") == 0, "GETDIR with " .. s.mode)
  local names = {}
  for _ = 1, 10 do
    local e = net.func("FTP", "DIRENTRY")
    if e == "" then break end
    names[#names + 1] = e:match("^%u+|(.-)|")
  end
  table.sort(names)
  check(table.concat(names, ",") == "down.bin,up.bin", "listing with " .. s.mode .. ": " .. table.concat(names, ","))
  check(net.command("FTP", "LOGOFF") == 0, "LOGOFF with " .. s.mode)
end

-- Explicit TLS with a certificate nobody vouches for is refused before the logon.
net.command("TLS", "CAFILE", "")
net.command("FTP", "SECURE", "STARTTLS")
check(net.command("FTP", "LOGON", servers[1].host) == 206, "untrusted FTPS refused")
check(net.error():find("untrusted issuer", 1, true), "reason: " .. net.error())
check(net.command("FTP", "SECURE", "SOMETIMES") == 25, "unknown mode")
net.command("FTP", "SECURE", "")
