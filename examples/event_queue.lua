-- Polling instead of events: with TOQEVENTS off every happening is queued
-- as a record, and the script reads them, oldest first, with EVENT whenever
-- it suits it.
--
--   nethost examples/event_queue.lua PORT [SECONDS]
local port = assert(arg[1], "usage: event_queue.lua PORT [SECONDS]")
local seconds = tonumber(arg[2] or "60")

local function sock(...) return (net.func("SOCKET", ...)) end

net.command("SOCKET", "TOQEVENTS", "")  -- blank: off, so events are queued
net.command("SOCKET", "PORT", port)
net.command("SOCKET", "SERVER")
print("polling on port " .. port .. ", status " .. sock("STATUS"))

local deadline = os.time() + seconds
while os.time() < deadline do
  net.wait(0.2)                         -- let the sockets work
  while true do
    local name = sock("EVENT")
    if name == "" then break end
    if name == "ERROR" then
      print("error: " .. sock("ERROR"))
    elseif name == "NETWORK" then
      print(("%s from %s:%s (id %s): %s"):format(name, sock("SENDERADDR"), sock("SENDERPORT"),
        sock("SENDERID"), sock("DATA")))
    else
      print(("%s %s:%s (id %s)"):format(name, sock("SENDERADDR"), sock("SENDERPORT"), sock("SENDERID")))
    end
  end
  io.stdout:flush()
end
net.command("SOCKET", "CLOSE")
