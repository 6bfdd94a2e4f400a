-- Reads a mailbox: lists the summary of every message, then saves every
-- attachment of one message into a directory.
--
--   nethost examples/mail_read.lua SERVER[:PORT] USER PASSWORD [NUMBER [DIR]]
--
-- NUMBER is the message's number on the server (1 is the first listed);
-- without it only the summaries are printed. DIR defaults to ".".
local server, user, password, number, dir = arg[1], arg[2], arg[3], arg[4], arg[5] or "."
if not password then
  io.stderr:write("usage: nethost mail_read.lua SERVER[:PORT] USER PASSWORD [NUMBER [DIR]]\n")
  os.exit(2)
end

local function pop3(...)
  local code = net.command("POP3", ...)
  if code ~= 0 then
    error(string.format("POP3 %s failed with code %d: %s", (...), code, net.error()), 2)
  end
end

pop3("USERNAME", user)
pop3("PASSWORD", password)
pop3("LOGON", server)
pop3("GETHEADERS")
local k = 0
while true do
  local summary = net.func("POP3", "HEADER", tostring(k))
  if summary == "" then break end
  -- From and Subject are separated by the character 7.
  local from, subject = summary:match("^(.-)\a(.*)$")
  print(string.format("%3d  %-40s  %s", k + 1, from or summary, subject or ""))
  k = k + 1
end
print(k .. " message(s)")

if number then
  pop3("GETMAIL", number)
  local count = tonumber((net.func("POP3", "ATTACHMENT", "COUNT")))
  for i = 0, count - 1 do
    local disposition = net.func("POP3", "ATTACHMENT", "DISPOSITION", tostring(i))
    local kind = net.func("POP3", "ATTACHMENT", "KIND", tostring(i))
    -- Parts without a file name (the text, a preamble) get one made up.
    local name = disposition:match('filename="([^"]+)"') or disposition:match("filename=([^;%s]+)")
    name = name and name:gsub("[/\\]", "_") or string.format("part%d.txt", i)
    pop3("SAVEATTACHMENT", tostring(i), dir .. "/" .. name)
    print(string.format("saved part %d (%s) as %s", i, kind, name))
  end
end
pop3("LOGOFF")
