-- Fetches an HTTPS page and prints it: nethost https_fetch.lua URL [CA-FILE]
-- The server's certificate is checked against the system's trust store, and
-- against CA-FILE too when one is given (a private CA, a test server's).
local url, ca = arg[1], arg[2]
if not url then
  io.stderr:write("usage: nethost https_fetch.lua https://host/path [ca.pem]\n")
  os.exit(2)
end
if ca then
  net.command("TLS", "CAFILE", ca)
end
if net.command("HTTP", "GET", url) ~= 0 then
  io.stderr:write("failed: " .. net.error() .. "\n")
  os.exit(1)
end
for line in net.lines("HTTP") do
  print(line)
end
