-- The socket service end to end through the exported entry points: one
-- script is the relay server and its client, events are delivered as they
-- are raised (net.onevent) and as queued records (EVENT).
local function check(cond, msg) if not cond then error(msg, 2) end end
local function sock(...) return (net.func("SOCKET", ...)) end

-- The script cannot learn a port the system chose (PORT gives the port as
-- set), so the port is picked below the ephemeral range, where no outgoing
-- connection of a test running beside this one takes it.
local function freePort()
  local source = os.getenv("SCRIPTNET_SOURCE_DIR") or "../.."
  local p = io.popen("/usr/bin/python3 " .. source .. "/tests/support/free_port.py")
  local port = p:read("l")
  p:close()
  return port
end

local seen = {}
net.onevent = function(name)
  local e = { name = name, id = sock("SENDERID"), addr = sock("SENDERADDR"),
              port = sock("SENDERPORT"), error = sock("ERROR") }
  if name == "NETWORK" then e.data = sock("DATA") end
  seen[#seen + 1] = e
end
local function waitFor(n)
  for _ = 1, 100 do
    if #seen >= n then return end
    net.wait(0.02)
  end
  error("expected " .. n .. " events, saw " .. #seen, 2)
end

local port = freePort()
check(net.command("SOCKET", "PORT", port) == 0, "PORT")
check(net.command("SOCKET", "SERVER") == 0, "SERVER")
check(sock("STATUS") == "listening", "listening")
check(sock("PORT") == port, "server PORT")
check(sock("CLIENTS") == "0", "no clients yet")

check(net.command("SOCKET", "ADDR", "127.0.0.1") == 0, "ADDR")
check(net.command("SOCKET", "CLIENT") == 0, "CLIENT")
check(sock("STATUS") == "open", "open right after CLIENT")
check(sock("CLIENTS") == "", "CLIENTS is empty in the client role")
waitFor(2)
check(sock("STATUS") == "connected", "connected")
local names = { [seen[1].name] = seen[1], [seen[2].name] = seen[2] }
check(names.ACCEPT and names.CONNECT, "ACCEPT and CONNECT")
check(names.CONNECT.port == port and names.CONNECT.addr == "127.0.0.1", "CONNECT names the server")
check(names.ACCEPT.port == sock("PORT"), "ACCEPT names the client's local port")
local clientId = names.ACCEPT.id

-- Client to server script, then to everybody (the client itself).
seen = {}
net.command("SOCKET", "SENDSERVER", "to the server|with a bar")
net.command("SOCKET", "SENDALL", "round trip")
waitFor(3)
check(seen[1].data == "to the server|with a bar" and seen[1].id == clientId, "SERVER route")
check(seen[2].data == "round trip" and seen[2].id == clientId, "ALL reported at the server")
check(seen[3].data == "round trip" and seen[3].port == port, "ALL relayed back to the client")

-- By id, through the relay.
seen = {}
net.command("SOCKET", "SENDID", clientId, "just you")
waitFor(1)
net.wait(0.05)
check(#seen == 1 and seen[1].data == "just you", "ID route is not reported at the server")

-- Queued records, oldest first.
net.command("SOCKET", "TOQEVENTS", "")
seen = {}
net.command("SOCKET", "SENDSERVER", "q1")
net.command("SOCKET", "SENDADDR", "127.0.0.1", "q2")
net.wait(0.2)
check(#seen == 0, "no host events while queueing")
local records = {}
while true do
  local name = sock("EVENT")
  if name == "" then break end
  records[#records + 1] = name .. ":" .. sock("SENDERID") .. ":" .. sock("DATA")
end
check(#records == 2, "two records, got " .. #records)
check(records[1] == "NETWORK:" .. clientId .. ":q1", records[1])
check(records[2]:match(":q2$"), records[2])
net.command("SOCKET", "TOQEVENTS", "on")

-- The client closes; the server reports it.
seen = {}
check(net.command("SOCKET", "CLOSE") == 0, "client CLOSE")
check(sock("STATUS") == "closed", "client closed")
check(sock("SENDERID") == "", "CLOSE empties the details")
waitFor(1)
check(seen[1].name == "CLOSEC" and seen[1].id == clientId, "CLOSEC at the server")
net.command("SOCKET", "SERVER")
check(sock("CLIENTS") == "0", "connection gone")
net.command("SOCKET", "CLOSE")
check(sock("STATUS") == "closed", "server closed")

-- A refused connect is an ERROR event; the client stays open until CLOSE.
seen = {}
net.command("SOCKET", "CLIENT")
waitFor(1)
check(seen[1].name == "ERROR" and seen[1].error == "Connection refused", "refused")
check(sock("STATUS") == "open", "still open after a refused connect")
net.command("SOCKET", "CLOSE")

-- An error raised inside net.onevent reaches the script.
net.onevent = function() error("handler failed") end
net.command("SOCKET", "CLIENT")
local ok, msg = pcall(net.wait, 1)
check(not ok and tostring(msg):find("handler failed"), "errors in net.onevent surface")
net.onevent = nil
net.command("SOCKET", "CLOSE")
print("socket relay: ok")
