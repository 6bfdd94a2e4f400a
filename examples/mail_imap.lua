-- Reads the unread mail of a folder where it lives: prints a summary of each
-- message, saves its attachments into a directory, marks it read, and then
-- waits for new mail and does the same with it, ROUNDS times.
--
--   nethost examples/mail_imap.lua SERVER[:PORT] USER PASSWORD [FOLDER [DIR [ROUNDS]]]
--
-- The connection is secured from the first byte (port 993 unless PORT says
-- otherwise). FOLDER defaults to INBOX, DIR to ".", ROUNDS to 1 (no wait).
local server, user, password = arg[1], arg[2], arg[3]
local folder, dir, rounds = arg[4] or "INBOX", arg[5] or ".", tonumber(arg[6] or "1")
if not password then
  io.stderr:write("usage: nethost mail_imap.lua SERVER[:PORT] USER PASSWORD [FOLDER [DIR [ROUNDS]]]\n")
  os.exit(2)
end

local function imap(...)
  local code = net.command("IMAP", ...)
  if code ~= 0 then
    error(string.format("IMAP %s failed with code %d: %s", (...), code, net.error()), 2)
  end
end

imap("USERNAME", user)
imap("PASSWORD", password)
imap("SECURE", "TLS")
imap("LOGON", server)
imap("SELECT", folder)
for round = 1, rounds do
  imap("SEARCH", "UNSEEN")
  imap("GETHEADERS")
  for i = 0, math.huge do
    local uid = net.func("IMAP", "UID", i)
    if uid == "" then break end
    print(string.format("%6s  %-40s  %s", uid, net.func("IMAP", "FROM", i), net.func("IMAP", "SUBJECT", i)))
    imap("GETMAIL", uid)
    for part = 0, tonumber((net.func("IMAP", "ATTACHMENT", "COUNT"))) - 1 do
      -- A name ready to save under: no folder part, nothing unsafe.
      local name = net.func("IMAP", "ATTACHMENT", "FILENAME", part)
      if name ~= "" then
        imap("SAVEATTACHMENT", part, dir .. "/" .. uid .. "-" .. name)
        print("        saved " .. uid .. "-" .. name)
      end
    end
    -- GETMAIL leaves the message unread; this marks it read.
    imap("FLAG", uid, "+\\Seen")
  end
  if round < rounds then
    imap("IDLE", 600)
  end
end
imap("LOGOFF")
