-- Background jobs against aiosmtpd and dovecot: SEND sends the message as
-- it was composed when the job started, whatever the script changes after;
-- GETMAIL and GETHEADERS jobs leave after JOB TAKE what the blocking
-- commands leave. arg[1]: SMTP port, arg[2]: POP3 port, arg[3]: work dir
-- (holding attachment.bin).
local smtp, pop3, dir = arg[1], arg[2], arg[3]
local function check(cond, msg) if not cond then error(msg .. " (" .. net.error() .. ")", 2) end end
local function cmd(...) check(net.command(...) == 0, table.concat({ ... }, " ")) end

cmd("SMTP", "FROM", "Sender <sender@example.org>")
cmd("SMTP", "RECIPIENTS", "ADD", "test@example.org")
cmd("SMTP", "SUBJECT", "composed before the start")
cmd("SMTP", "MESSAGE", "ADD", "the first text")
cmd("SMTP", "ATTACHMENT", "ADD", dir .. "/attachment.bin")
local id, code = net.job("SMTP", "SEND", "127.0.0.1:" .. smtp)
check(id, "SEND job: " .. tostring(code))
-- Changed at once: the job sends what it started with.
cmd("SMTP", "SUBJECT", "changed after the start")
cmd("SMTP", "MESSAGE", "CLEAR")
cmd("SMTP", "MESSAGE", "ADD", "a later text")
cmd("SMTP", "ATTACHMENT", "CLEAR")
cmd("SMTP", "RECIPIENTS", "CLEAR")
local status = net.func("JOB", "WAIT", id, "60000")
check(status:match("^DONE %d+ %-1 0$"), "SEND job: " .. status)
check(net.command("JOB", "TAKE", id) == 0, "TAKE of the SEND job")

cmd("POP3", "USERNAME", "test")
cmd("POP3", "PASSWORD", "secret")
cmd("POP3", "LOGON", "127.0.0.1:" .. pop3)
cmd("POP3", "GETHEADERS")
local function summaries()
  local all = {}
  for k = 0, 100 do
    local h = net.func("POP3", "HEADER", tostring(k))
    if h == "" then break end
    all[#all + 1] = table.concat({ h, net.func("POP3", "FROM", tostring(k)),
      net.func("POP3", "SUBJECT", tostring(k)), net.func("POP3", "UIDL", tostring(k)) }, "|")
  end
  return table.concat(all, "\n")
end
local blocking = summaries()
check(blocking:find("composed before the start", 1, true), "the message as composed at the start")
check(not blocking:find("changed after the start", 1, true), "nothing of the later changes")
cmd("POP3", "LOGOFF")
id = assert(net.job("POP3", "GETHEADERS"))
check(net.func("JOB", "WAIT", id, "60000"):match("^DONE"), "GETHEADERS job")
cmd("JOB", "TAKE", id)
check(summaries() == blocking, "summaries taken:\n" .. summaries() .. "\nblocking:\n" .. blocking)

local function message()
  local lines = {}
  for line in net.lines("POP3", "MAIL") do lines[#lines + 1] = line end
  local parts = { table.concat(lines, "\n"), net.func("POP3", "ATTACHMENT", "COUNT") }
  for k = 0, tonumber(parts[2]) - 1 do
    parts[#parts + 1] = net.func("POP3", "ATTACHMENT", "FILENAME", tostring(k))
  end
  return table.concat(parts, "|")
end
id = assert(net.job("POP3", "GETMAIL", "1"))
check(net.func("JOB", "WAIT", id, "60000"):match("^DONE"), "GETMAIL job")
cmd("JOB", "TAKE", id)
local taken = message()
cmd("POP3", "SAVEATTACHMENT", "0", dir .. "/got.bin")
cmd("POP3", "GETMAIL", "1")
check(message() == taken, "the message taken is the one GETMAIL reads")
cmd("POP3", "LOGOFF")
print("jobs (mail): ok")
