-- Logins against the real servers: SMTP with every mechanism aiosmtpd
-- offers (and a wrong password for each), then POP3 with USER/PASS, APOP
-- and PLAIN (and a wrong password for each), and the unique ids.
-- arg[1]: SMTP port, arg[2]: POP3 port, arg[3]: file the ids are written to.
local smtp, pop3, idfile = "127.0.0.1:" .. arg[1], "127.0.0.1:" .. arg[2], arg[3]

local function expect(code, want, ...)
  if code ~= want then
    error(table.concat({...}, " ") .. " gave " .. code .. " (" .. net.error() .. "), not " .. want, 2)
  end
end
local function cmd(...) expect(net.command(...), 0, ...) end
local function check(cond, msg) if not cond then error(msg, 2) end end

cmd("SMTP", "RECIPIENTS", "ADD", "rcpt@example.org")
cmd("SMTP", "FROM", "Login Test <login@example.org>")
cmd("SMTP", "MESSAGE", "ADD", "sent after a login")

-- No login: the server requires one.
cmd("SMTP", "SUBJECT", "no login")
expect(net.command("SMTP", "SEND", smtp), 206, "SEND without a login")
check(net.error():find("5.7.0"), "refusal without a login: " .. net.error())

cmd("SMTP", "USERNAME", "test")
-- Blank: over clear text the best mechanism offered is CRAM-MD5.
for _, mechanism in ipairs({"", "PLAIN", "LOGIN", "CRAM-MD5"}) do
  cmd("SMTP", "AUTH", mechanism)
  cmd("SMTP", "PASSWORD", "wrong")
  cmd("SMTP", "SUBJECT", "wrong " .. mechanism)
  expect(net.command("SMTP", "SEND", smtp), 206, "SEND with a wrong password by", mechanism)
  check(net.error() == "5.7.8 Authentication credentials invalid",
        mechanism .. " refusal: " .. net.error())
  cmd("SMTP", "PASSWORD", "secret")
  cmd("SMTP", "SUBJECT", "login " .. (mechanism == "" and "best" or mechanism))
  cmd("SMTP", "SEND", smtp)
end

-- POP3: a wrong password by each way of logging on, then the right one.
cmd("POP3", "USERNAME", "test")
for _, mechanism in ipairs({"APOP", "PLAIN", ""}) do
  cmd("POP3", "AUTH", mechanism)
  cmd("POP3", "PASSWORD", "wrong")
  expect(net.command("POP3", "LOGON", pop3), 206, "LOGON with a wrong password by", mechanism)
  check(net.error():find("^%-ERR"), mechanism .. " refusal: " .. net.error())
  cmd("POP3", "PASSWORD", "secret")
  cmd("POP3", "LOGON", pop3)
  cmd("POP3", "GETHEADERS")
  local count = 0
  while net.func("POP3", "HEADER", tostring(count)) ~= "" do count = count + 1 end
  check(count == 4, mechanism .. ": " .. count .. " messages listed, not 4")
  cmd("POP3", "LOGOFF")
end

cmd("POP3", "AUTH", "")
cmd("POP3", "LOGON", pop3)
local ids = {}
for k = 0, 3 do
  local id, code = net.func("POP3", "UIDL", tostring(k))
  check(code == 0 and id ~= "", "no id for message " .. k .. " (" .. code .. ")")
  ids[#ids + 1] = id
end
check(net.func("POP3", "UIDL", "4") == "", "an id past the end of the mailbox")
cmd("POP3", "LOGOFF")
local out = assert(io.open(idfile, "w"))
out:write(table.concat(ids, "\n"), "\n")
out:close()
print("logins: ok")
