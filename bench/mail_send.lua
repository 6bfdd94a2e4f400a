-- Benchmark driver: one SEND of a message with one attachment, or one
-- GETMAIL (retrieval and MIME parsing). Prints the process's peak resident
-- memory in KiB (after GETMAIL also the number of parts); the benchmark
-- times the whole process from outside.
--   nethost mail_send.lua send SMTP_PORT FILE
--   nethost mail_send.lua get POP3_PORT NUMBER
local mode, port, what = arg[1], arg[2], arg[3]
local function cmd(...)
  local code = net.command(...)
  if code ~= 0 then error(table.concat({...}, " ") .. " gave " .. code .. ": " .. net.error(), 2) end
end
local function peak()
  for line in io.lines("/proc/self/status") do
    local kb = line:match("^VmHWM:%s+(%d+)")
    if kb then return tonumber(kb) end
  end
  return 0
end

if mode == "send" then
  cmd("SMTP", "RECIPIENTS", "ADD", "bench@example.org")
  cmd("SMTP", "FROM", "bench@example.org")
  cmd("SMTP", "SUBJECT", "benchmark")
  cmd("SMTP", "MESSAGE", "ADD", "A message with a large attachment.")
  cmd("SMTP", "ATTACHMENT", "ADD", what)
  cmd("SMTP", "SEND", "127.0.0.1:" .. port)
else
  cmd("POP3", "USERNAME", "test")
  cmd("POP3", "PASSWORD", "secret")
  cmd("POP3", "LOGON", "127.0.0.1:" .. port)
  cmd("POP3", "GETMAIL", what)
  cmd("POP3", "LOGOFF")
  print(peak(), (net.func("POP3", "ATTACHMENT", "COUNT")))
  return
end
print(peak())
