-- A relay chat client: connects to a relay server, sends each further
-- argument as a message to everybody, and prints what comes back.
--
--   nethost examples/relay_client.lua HOST PORT [MESSAGE...]
local host, port = arg[1], arg[2]
assert(host and port, "usage: relay_client.lua HOST PORT [MESSAGE...]")

net.onevent = function(name)
  if name == "CONNECT" then
    print("connected to " .. net.func("SOCKET", "SENDERADDR") .. ":" .. net.func("SOCKET", "SENDERPORT"))
  elseif name == "NETWORK" then
    print("received: " .. net.func("SOCKET", "DATA"))
  elseif name == "CLOSEC" then
    print("the server closed the connection")
    net.stop()
  elseif name == "ERROR" then
    print("error: " .. net.func("SOCKET", "ERROR"))
    net.stop()
  end
end

net.command("SOCKET", "ADDR", host)
net.command("SOCKET", "PORT", port)
net.command("SOCKET", "CLIENT")
net.wait(2)
if net.func("SOCKET", "STATUS") ~= "connected" then os.exit(1) end
for i = 3, #arg do
  net.command("SOCKET", "SENDALL", arg[i])
end
net.wait(1)
net.command("SOCKET", "CLOSE")
