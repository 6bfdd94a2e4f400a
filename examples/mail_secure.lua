-- Sends a message through a submission server with STARTTLS and a login,
-- then reads the mailbox over POP3S:
--   nethost mail_secure.lua SMTP-HOST[:PORT] POP3-HOST[:PORT] USER PASSWORD TO
-- Both servers are checked against the system's trust store; a server that
-- cannot secure the connection is a failure, never a fall-back to clear text.
local smtp, pop3, user, password, to = arg[1], arg[2], arg[3], arg[4], arg[5]
if not to then
  io.stderr:write("usage: nethost mail_secure.lua smtp-host[:587] pop3-host user password to\n")
  os.exit(2)
end
local function must(code, what)
  if code ~= 0 then
    io.stderr:write(what .. " failed: " .. net.error() .. "\n")
    os.exit(1)
  end
end

net.command("SMTP", "SECURE", "STARTTLS")
net.command("SMTP", "USERNAME", user)
net.command("SMTP", "PASSWORD", password)
net.command("SMTP", "FROM", user)
net.command("SMTP", "RECIPIENTS", "ADD", to)
net.command("SMTP", "SUBJECT", "Hello over TLS")
net.command("SMTP", "MESSAGE", "ADD", "Sent with STARTTLS and a login.")
must(net.command("SMTP", "SEND", smtp:find(":") and smtp or smtp .. ":587"), "SEND")

net.command("POP3", "SECURE", "TLS") -- port 995 unless the host names one
net.command("POP3", "USERNAME", user)
net.command("POP3", "PASSWORD", password)
must(net.command("POP3", "LOGON", pop3), "LOGON")
must(net.command("POP3", "GETHEADERS"), "GETHEADERS")
for i = 0, 1000 do
  local header = net.func("POP3", "HEADER", tostring(i))
  if header == "" then break end
  print(i, (header:gsub("\7", "  |  ")))
end
net.command("POP3", "LOGOFF")
