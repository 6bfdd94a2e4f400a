-- Three downloads in the background while a relay chat keeps answering:
-- each download has a progress line, the chat goes on meanwhile (a message
-- to the relay server every fifth of a second, each answered), and the
-- second download is cancelled half way.
--
--   nethost examples/background_download.lua URL URL URL [FOLDER] [PORT]
local urls = { arg[1], arg[2], arg[3] }
assert(urls[3], "usage: background_download.lua URL URL URL [FOLDER] [PORT]")
local folder = arg[4] or "."
local port = tonumber(arg[5] or "47124")

local function sock(...) return (net.func("SOCKET", ...)) end

local function size(bytes)
  if bytes < 0 then return "?" end
  if bytes < 1024 * 1024 then return ("%.1f KiB"):format(bytes / 1024) end
  return ("%.1f MiB"):format(bytes / 1024 / 1024)
end

-- The relay chat of examples/relay_demo.lua: a server and a client in this
-- script, on loopback.
net.command("SOCKET", "TOQEVENTS", "")
for _ = 1, 20 do
  net.command("SOCKET", "PORT", tostring(port))
  net.command("SOCKET", "SERVER")
  if sock("STATUS") == "listening" then break end
  port = port + 1
end
while sock("EVENT") ~= "" do end
assert(sock("STATUS") == "listening", "no free port for the chat")
net.command("SOCKET", "TOQEVENTS", "on")
net.command("SOCKET", "ADDR", "127.0.0.1")
assert(net.command("SOCKET", "CLIENT") == 0)

local sent, answered = 0, 0
net.onevent = function(name)
  if name ~= "NETWORK" then return end
  local text = sock("DATA")
  local n = tonumber(text:match("^ping (%d+)$"))
  if n then
    -- The server script answers the ping at once.
    net.command("SOCKET", "SERVER")
    net.command("SOCKET", "SENDID", sock("SENDERID"), "pong " .. n)
    net.command("SOCKET", "CLIENT")
    return
  end
  if text:match("^pong %d+$") then answered = answered + 1 end
end

-- The downloads, each with its line.
net.command("JOB", "PROGRESS", "200")
local jobs, order, left = {}, {}, 0
for i, url in ipairs(urls) do
  local file = folder .. "/" .. (url:match("([^/?#]+)[?#]?[^/]*$") or ("download" .. i))
  local id, code = net.job("HTTP", "DOWNLOAD", url, file)
  if not id then error(("cannot start %s: code %d %s"):format(url, code, net.error())) end
  jobs[id] = { n = i, file = file, line = "waiting" }
  order[#order + 1] = id
  left = left + 1
end

local function show()
  for _, id in ipairs(order) do
    print(("download %d: %s"):format(jobs[id].n, jobs[id].line))
  end
  print(("chat: %d of %d messages answered"):format(answered, sent))
end

net.onjob = function(id, state, done, total, code)
  local job = jobs[id]
  if not job then return end
  if state == "RUNNING" then
    job.line = total > 0 and ("%s of %s (%d%%)"):format(size(done), size(total), done * 100 // total)
      or size(done)
    -- The second one is stopped half way.
    if job.n == 2 and total > 0 and done * 2 >= total and not job.cancelled then
      job.cancelled = true
      net.command("JOB", "CANCEL", id)
    end
    return
  end
  local taken = net.command("JOB", "TAKE", id)
  job.line = state == "DONE" and ("%s, done: %s"):format(size(done), job.file)
    or ("%s after %s (code %d: %s)"):format(state:lower(), size(done), taken, net.error())
  left = left - 1
end

while left > 0 do
  sent = sent + 1
  net.command("SOCKET", "SENDSERVER", "ping " .. sent)
  net.wait(0.2)
  if sent % 5 == 0 then show() end
end
net.wait(0.2)
show()
net.command("SOCKET", "CLOSE")
net.command("SOCKET", "SERVER")
net.command("SOCKET", "CLOSE")
