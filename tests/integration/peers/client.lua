-- The service's client against a foreign server, for the peer tests. It
-- connects, sends each further argument with SENDSERVER, and prints every
-- event it sees, one line each, until the server closes or time is up.
--
--   nethost client.lua HOST PORT raw|auto SECONDS [TEXT...]
local host, port, mode, seconds = arg[1], arg[2], arg[3], tonumber(arg[4])
local function sock(...) return (net.func("SOCKET", ...)) end
net.onevent = function(name)
  if name == "NETWORK" then
    print(name .. "|" .. sock("SENDERADDR") .. "|" .. sock("SENDERPORT") .. "|" .. sock("DATA"))
  elseif name == "ERROR" then
    print(name .. "|" .. sock("ERROR"))
    net.stop()
  else
    print(name .. "|" .. sock("SENDERADDR") .. "|" .. sock("SENDERPORT") .. "|" .. sock("STATUS"))
    if name == "CLOSEC" then net.stop() end
  end
  io.stdout:flush()
end
net.command("SOCKET", "AUTO", mode == "auto" and "on" or "")
net.command("SOCKET", "ADDR", host)
net.command("SOCKET", "PORT", port)
net.command("SOCKET", "CLIENT")
net.wait(1)
for i = 5, #arg do net.command("SOCKET", "SENDSERVER", arg[i]) end
net.wait(seconds)
print("STATUS|" .. sock("STATUS"))
