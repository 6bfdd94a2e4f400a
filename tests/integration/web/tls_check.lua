-- arg: certificate folder, served folder, output folder, HTTPS port, port
-- with a certificate for another name, port with an expired one, CONNECT
-- proxy port, port of TLS 1.1 at most, port of tls_faults.py
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check, sha = t.check, t.sha
local certs, www, out = arg[1], arg[2], arg[3]
local good, wrong, expired, proxy, old, faults = arg[4], arg[5], arg[6], arg[7], arg[8], arg[9]

local function refused(url, why)
  check(net.command("HTTP", "GET", url) == 206, "GET " .. url .. " should fail")
  check(net.error():find(why, 1, true), "reason for " .. url .. ": " .. net.error())
end

-- The test CA is not in the system's store: nothing is trusted yet.
refused("https://127.0.0.1:" .. good .. "/page.txt", "untrusted issuer")

check(net.command("TLS", "CAFILE", certs .. "/ca.pem") == 0, "TLS CAFILE")
for _, host in ipairs { "127.0.0.1", "localhost" } do
  local base = "https://" .. host .. ":" .. good
  check(net.command("HTTP", "GET", base .. "/page.txt") == 0, "GET over TLS from " .. host)
  local lines = t.lines("HTTP")
  check(#lines == 2 and lines[1] == "first line" and lines[2] == "second line",
        "page lines over TLS: " .. table.concat(lines, "|"))
end
local base = "https://127.0.0.1:" .. good
check(net.command("HTTP", "DOWNLOAD", base .. "/big.bin", out .. "/big.bin") == 0, "DOWNLOAD over TLS")
check(sha(out .. "/big.bin") == sha(www .. "/big.bin"), "content over TLS")
-- A folder trusts every PEM file in it, whatever its name; one without any refuses.
check(net.command("TLS", "CAFILE", certs .. "/trusted") == 0, "TLS CAFILE of a folder")
check(net.command("HTTP", "GET", base .. "/page.txt") == 0, "trusted through a folder: " .. net.error())
check(net.command("TLS", "CAFILE", certs .. "/no-certificates") == 0, "TLS CAFILE of an empty folder")
refused(base .. "/page.txt", "no certificate could be read")
check(net.command("TLS", "CAFILE", certs .. "/ca.pem") == 0, "TLS CAFILE")

refused("https://127.0.0.1:" .. wrong .. "/page.txt", "name mismatch")
refused("https://localhost:" .. wrong .. "/page.txt", "name mismatch")
refused("https://127.0.0.1:" .. old .. "/page.txt", "protocol version refused")
-- An answer whose end is the connection's end is whole only with the TLS close.
for _, cut in ipairs { "/cut", "/cut-reset" } do
  local url = "https://127.0.0.1:" .. faults .. cut
  refused(url, "without the server's TLS close")
  check(net.command("HTTP", "DOWNLOAD", url, out .. "/cut.txt") == 206, "DOWNLOAD " .. url)
  check(not t.exists(out .. "/cut.txt"), "no file of " .. url)
end
refused("https://127.0.0.1:" .. expired .. "/page.txt", "expired")
-- What was asked for in private does not go on in clear.
refused(base .. "/to-clear", "refused")
check(not t.exists(out .. "/nothing"), "nothing written")

-- Through a proxy: a CONNECT tunnel, its credentials for the proxy alone.
check(net.command("HTTP", "PROXY", "127.0.0.1:" .. proxy, "tunneluser", "wrong") == 0, "PROXY")
refused(base .. "/page.txt", "407")
check(net.command("HTTP", "PROXY", "127.0.0.1:" .. proxy, "tunneluser", "tunnelpass") == 0, "PROXY")
check(net.command("HTTP", "DOWNLOAD", base .. "/big.bin", out .. "/tunnel.bin") == 0, "DOWNLOAD through the tunnel")
check(sha(out .. "/tunnel.bin") == sha(www .. "/big.bin"), "content through the tunnel")
check(net.command("HTTP", "PROXY", "", "", "") == 0, "no proxy")

-- VERIFY off takes any certificate; on again refuses.
check(net.command("TLS", "VERIFY", "") == 0, "VERIFY off")
check(net.command("TLS", "CAFILE", "") == 0, "system store alone")
for _, port in ipairs { good, wrong, expired } do
  check(net.command("HTTP", "GET", "https://127.0.0.1:" .. port .. "/page.txt") == 0, "VERIFY off, port " .. port)
end
check(net.command("TLS", "VERIFY", "on") == 0, "VERIFY on")
refused("https://127.0.0.1:" .. good .. "/page.txt", "untrusted issuer")
