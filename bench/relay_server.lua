-- The SOCKET server in relay mode, for the benchmark: it greets every new
-- connection with its id ("id:N") and otherwise lets the relay work; the
-- NETWORK events of ALL messages reach the script and are ignored.
--
-- With "queue" the events are queued as records and never polled, as by a
-- script that does not call EVENT. With "jobs", every URL that follows is
-- downloaded into its FILE in the background, again and again, while the
-- relay works (bench/jobs.sh).
--
--   nethost relay_server.lua PORT SECONDS [queue | jobs URL FILE...]
local port, seconds = arg[1], tonumber(arg[2] or "600")
if arg[3] == "queue" then net.command("SOCKET", "TOQEVENTS", "") end
if arg[3] == "jobs" then
  local downloads = {}
  local function start(url, file)
    downloads[assert(net.job("HTTP", "DOWNLOAD", url, file))] = { url, file }
  end
  net.onjob = function(id, state)
    if state == "RUNNING" then return end
    local again = downloads[id]
    downloads[id] = nil
    net.command("JOB", "TAKE", id)
    start(again[1], again[2])
  end
  for k = 4, #arg - 1, 2 do start(arg[k], arg[k + 1]) end
end
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
