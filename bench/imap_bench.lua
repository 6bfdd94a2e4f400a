-- Benchmark driver: one IMAP session of bench/imap.sh, timed from outside.
--   nethost imap_bench.lua headers FILE PORT   GETHEADERS of UIDs 1:2000 of
--       INBOX; FILE receives a line per summary: UID, From and Subject
--       decoded, Date and size, separated by tabs
--   nethost imap_bench.lua get FILE PORT       GETMAIL of UID 1 of Big; its
--       attachment saved to FILE
local mode, file, port = arg[1], arg[2], arg[3]
local function cmd(...)
  local code = net.command(...)
  if code ~= 0 then error(table.concat({ ... }, " ") .. " gave " .. code .. ": " .. net.error(), 2) end
end
cmd("IMAP", "USERNAME", "test")
cmd("IMAP", "PASSWORD", "secret")
cmd("IMAP", "LOGON", "127.0.0.1:" .. port)
if mode == "headers" then
  cmd("IMAP", "SELECT", "INBOX")
  cmd("IMAP", "GETHEADERS", "1:2000")
  local out = assert(io.open(file, "w"))
  for i = 0, math.huge do
    local uid = net.func("IMAP", "UID", i)
    if uid == "" then break end
    out:write(uid, "\t", net.func("IMAP", "FROM", i), "\t", net.func("IMAP", "SUBJECT", i), "\t",
      net.func("IMAP", "DATE", i), "\t", net.func("IMAP", "SIZE", i), "\n")
  end
  out:close()
else
  cmd("IMAP", "SELECT", "Big")
  cmd("IMAP", "GETMAIL", "1")
  for i = 0, tonumber((net.func("IMAP", "ATTACHMENT", "COUNT"))) - 1 do
    if net.func("IMAP", "ATTACHMENT", "FILENAME", i) == "payload.bin" then
      cmd("IMAP", "SAVEATTACHMENT", i, file)
    end
  end
end
cmd("IMAP", "LOGOFF")
