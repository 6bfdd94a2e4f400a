-- A relay server for the peer tests: it logs every event with its details
-- to a file (one line each, as an event record would read), tells each new
-- connection its id, and obeys a few commands sent to it with the SERVER
-- route ("cmd:STATUS", "cmd:CLOSECADDR addr", "cmd:CLOSE", "cmd:QUIT").
--
--   nethost reflector.lua PORT LOGFILE [SECONDS] [queue]
local port, logName = arg[1], arg[2]
local seconds = tonumber(arg[3] or "60")
local queued = arg[4] == "queue"
local log = assert(io.open(logName, "w"))
local function sock(...) return (net.func("SOCKET", ...)) end
local function write(line) log:write(line, "\n"); log:flush() end

-- Sockets only: the pipe of this very popen may or may not be counted,
-- depending on whether nethost has closed its copy of the child's end yet.
local function openFds()
  local p = io.popen("ls -l /proc/$PPID/fd | grep -c 'socket:'")
  local n = tonumber(p:read("l"))
  p:close()
  return n
end

local quit = false

local function handle(name)
  if name == "ERROR" then
    write("ERROR|" .. sock("ERROR"))
    return
  end
  local id = sock("SENDERID")
  local line = table.concat({ name, sock("SENDERADDR"), sock("SENDERPORT"), id }, "|")
  if name == "NETWORK" then
    local data = sock("DATA")
    write(line .. "|" .. data)
    local cmd, rest = data:match("^cmd:(%a+)%s*(.*)$")
    if cmd == "STATUS" then
      net.command("SOCKET", "SENDID", id,
        "status:" .. sock("STATUS") .. "|" .. sock("CLIENTS") .. "|" .. sock("PORT"))
    elseif cmd == "CLOSECADDR" then
      net.command("SOCKET", "CLOSECADDR", rest)
    elseif cmd == "CLOSE" then
      net.command("SOCKET", "CLOSE")
      write("FDS|" .. openFds())
    elseif cmd == "QUIT" then
      quit = true
      net.stop()
    end
    return
  end
  write(line)
  if name == "ACCEPT" then net.command("SOCKET", "SENDID", id, "id:" .. id) end
end

write("FDS|" .. openFds())
net.command("SOCKET", "PORT", port)
net.command("SOCKET", "SERVER")
assert(sock("STATUS") == "listening", "cannot listen on " .. port)
write("LISTENING|" .. port)
if queued then
  net.command("SOCKET", "TOQEVENTS", "")
  local deadline = os.time() + seconds
  net.onevent = nil
  while not quit and os.time() < deadline do
    net.wait(0.05)
    while true do
      local name = sock("EVENT")
      if name == "" then break end
      handle(name)
    end
  end
else
  net.onevent = handle
  net.wait(seconds)
end
write("END")
