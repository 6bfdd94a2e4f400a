-- A relay chat server: clients send "ALL|text", "ID|id;text",
-- "ADDR|address;text" or "SERVER|text", each ending in CR LF; the server
-- forwards them and prints what reaches it.
--
--   nethost examples/relay_server.lua PORT [SECONDS]
local port = assert(arg[1], "usage: relay_server.lua PORT [SECONDS]")
local seconds = tonumber(arg[2] or "3600")

local function sock(...) return (net.func("SOCKET", ...)) end

net.onevent = function(name)
  if name == "ACCEPT" then
    print(("%s joined from %s:%s"):format(sock("SENDERID"), sock("SENDERADDR"), sock("SENDERPORT")))
    -- Tell the newcomer its id, so others can be told whom to address.
    net.command("SOCKET", "SENDID", sock("SENDERID"), "welcome, you are " .. sock("SENDERID"))
  elseif name == "CLOSEC" then
    print(("%s left"):format(sock("SENDERID")))
  elseif name == "NETWORK" then
    print(("%s says: %s"):format(sock("SENDERID"), sock("DATA")))
  elseif name == "ERROR" then
    print("error: " .. sock("ERROR"))
  end
  io.stdout:flush()
end

net.command("SOCKET", "PORT", port)
net.command("SOCKET", "SERVER")
if net.func("SOCKET", "STATUS") ~= "listening" then
  error("cannot listen on port " .. port .. ": " .. net.func("SOCKET", "ERROR"))
end
print("relay server listening on port " .. port)
net.wait(seconds)
net.command("SOCKET", "CLOSE")
