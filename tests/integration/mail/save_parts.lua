-- Reads every message of the mailbox and saves all its parts. arg[1]: POP3
-- port, arg[2]: output dir. Writes parts as N_I.part and a manifest line per
-- part: message number, index, summary, kind (tab-separated); and to
-- names.tsv a line per message (number, decoded subject) and per part
-- (number, index, file name).
local port, dir = arg[1], arg[2]
local function cmd(...)
  local code = net.command(...)
  if code ~= 0 then error(table.concat({...}, " ") .. " gave " .. code .. ": " .. net.error(), 2) end
end
cmd("POP3", "USERNAME", "test")
cmd("POP3", "PASSWORD", "secret")
cmd("POP3", "LOGON", "127.0.0.1:" .. port)
cmd("POP3", "GETHEADERS")
local manifest = assert(io.open(dir .. "/manifest.tsv", "wb"))
local names = assert(io.open(dir .. "/names.tsv", "wb"))
local n = 0
while true do
  local summary = net.func("POP3", "HEADER", tostring(n))
  if summary == "" then break end
  n = n + 1
  names:write(string.format("%d\t%s\n", n, (net.func("POP3", "SUBJECT", tostring(n - 1)))))
  cmd("POP3", "GETMAIL", tostring(n))
  local count = tonumber((net.func("POP3", "ATTACHMENT", "COUNT")))
  for i = 0, count - 1 do
    local kind = net.func("POP3", "ATTACHMENT", "KIND", tostring(i)):gsub("[\t\r\n]", " ")
    cmd("POP3", "SAVEATTACHMENT", tostring(i), string.format("%s/%d_%d.part", dir, n, i))
    manifest:write(string.format("%d\t%d\t%s\t%s\n", n, i, (summary:gsub("[\a\t]", " ")), kind))
    names:write(string.format("%d\t%d\t%s\n", n, i, (net.func("POP3", "ATTACHMENT", "FILENAME", tostring(i)))))
  end
end
manifest:close()
names:close()
cmd("POP3", "LOGOFF")
print("saved the parts of " .. n .. " messages")
