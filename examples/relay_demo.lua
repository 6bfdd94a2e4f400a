-- A relay chat in one script: the SOCKET server listens on loopback, the
-- SOCKET client connects to it, and messages go round through the relay.
-- Every event is printed with its details as it is raised.
--
--   nethost examples/relay_demo.lua [PORT]
local port = tonumber(arg[1] or "47123")

local function sock(...) return (net.func("SOCKET", ...)) end

net.onevent = function(name)
  if name == "ERROR" then
    print(("event %-8s %s"):format(name, sock("ERROR")))
  elseif name == "NETWORK" then
    print(("event %-8s from %s:%s (id %s): %q"):format(name, sock("SENDERADDR"),
      sock("SENDERPORT"), sock("SENDERID"), sock("DATA")))
  else
    print(("event %-8s %s:%s (id %s)"):format(name, sock("SENDERADDR"), sock("SENDERPORT"),
      sock("SENDERID")))
  end
end

-- Errors while looking for a free port are expected: handle them quietly.
net.command("SOCKET", "TOQEVENTS", "")
for _ = 1, 20 do
  net.command("SOCKET", "PORT", tostring(port))
  net.command("SOCKET", "SERVER")
  if sock("STATUS") == "listening" then break end
  port = port + 1
end
while sock("EVENT") ~= "" do end
net.command("SOCKET", "TOQEVENTS", "on")
assert(sock("STATUS") == "listening", "no free port for the demo")
print("server:", sock("STATUS"), "on port", sock("PORT"))

net.command("SOCKET", "ADDR", "127.0.0.1")
assert(net.command("SOCKET", "CLIENT") == 0)
print("client:", sock("STATUS"))
net.wait(0.5)
print("client:", sock("STATUS"), "from local port", sock("PORT"))

print("-- the client sends to the server script")
net.command("SOCKET", "SENDSERVER", "hello, server")
net.wait(0.3)
print("-- the client sends to every client (itself included)")
net.command("SOCKET", "SENDALL", "hello, everybody")
net.wait(0.3)

print("-- the server answers its connections directly")
net.command("SOCKET", "SERVER")           -- role: server (it keeps listening)
print("server has", sock("CLIENTS"), "connection(s)")
net.command("SOCKET", "SENDALL", "greetings from the server")
net.command("SOCKET", "CLIENT")           -- role: client (already connected)
net.wait(0.3)

print("-- events can be queued instead and read with EVENT")
net.command("SOCKET", "TOQEVENTS", "")
net.command("SOCKET", "SENDSERVER", "queued one")
net.command("SOCKET", "SENDALL", "queued two")
net.wait(0.3)
while true do
  local name = sock("EVENT")
  if name == "" then break end
  print(("record %-8s id %s data %q"):format(name, sock("SENDERID"), sock("DATA")))
end
net.command("SOCKET", "TOQEVENTS", "on")

print("-- the client closes; the server sees it go")
net.command("SOCKET", "CLOSE")
net.wait(0.3)
net.command("SOCKET", "SERVER")
print("server has", sock("CLIENTS"), "connection(s)")
net.command("SOCKET", "CLOSE")
print("server:", sock("STATUS"))
