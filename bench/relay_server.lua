-- The SOCKET server in relay mode, for the benchmark: it greets every new
-- connection with its id ("id:N") and otherwise lets the relay work; the
-- NETWORK events of ALL messages reach the script and are ignored.
--
-- With "queue" the events are queued as records and never polled, as by a
-- script that does not call EVENT.
--
--   nethost relay_server.lua PORT SECONDS [queue]
local port, seconds = arg[1], tonumber(arg[2] or "600")
if arg[3] == "queue" then net.command("SOCKET", "TOQEVENTS", "") end
net.onevent = function(name)
  if name == "ACCEPT" then
    local id = net.func("SOCKET", "SENDERID")
    net.command("SOCKET", "SENDID", id, "id:" .. id)
  end
end
net.command("SOCKET", "PORT", port)
net.command("SOCKET", "SERVER")
assert(net.func("SOCKET", "STATUS") == "listening", "cannot listen on " .. port)
print("listening")
io.stdout:flush()
net.wait(seconds)
