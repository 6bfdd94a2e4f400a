-- arg: CA file, SMTP port (STARTTLS required), POP3 port (STLS required), POP3S port,
-- SMTPS port
local ca, smtp, pop3, pop3s, smtps = arg[1], arg[2], arg[3], arg[4], arg[5]
local function check(cond, what)
  if not cond then error(what .. " (status " .. net.status() .. ", IPERROR: " .. net.error() .. ")", 2) end
end

net.command("TLS", "CAFILE", ca)
net.command("SMTP", "RECIPIENTS", "ADD", "test@example.org")
net.command("SMTP", "FROM", "Sender <sender@example.org>")
net.command("SMTP", "SUBJECT", "sent over TLS")
net.command("SMTP", "MESSAGE", "ADD", "private body")
net.command("SMTP", "USERNAME", "mailer")
net.command("SMTP", "PASSWORD", "mailpass")

-- The server wants TLS first: in clear, nothing goes.
check(net.command("SMTP", "SEND", "127.0.0.1:" .. smtp) == 206, "clear-text SEND refused")
check(net.command("SMTP", "SECURE", "STARTTLS") == 0, "SMTP SECURE")
check(net.command("SMTP", "SEND", "127.0.0.1:" .. smtp) == 0, "SEND through STARTTLS with a login")
check(net.command("SMTP", "SECURE", "TLS") == 0, "SMTP SECURE TLS")
net.command("SMTP", "SUBJECT", "sent over SMTPS")
check(net.command("SMTP", "SEND", "127.0.0.1:" .. smtps) == 0, "SEND over SMTPS with a login")
check(net.command("SMTP", "SECURE", "sometimes") == 25, "unknown mode")

net.command("POP3", "USERNAME", "test")
net.command("POP3", "PASSWORD", "secret")
-- (dovecot takes loopback connections for secured ones, so it does not refuse
-- a clear-text logon here.)
for _, way in ipairs { { "STARTTLS", pop3 }, { "TLS", pop3s } } do
  check(net.command("POP3", "SECURE", way[1]) == 0, "POP3 SECURE " .. way[1])
  check(net.command("POP3", "LOGON", "127.0.0.1:" .. way[2]) == 0, "POP3 LOGON with " .. way[1])
  check(net.command("POP3", "GETHEADERS") == 0, "GETHEADERS with " .. way[1])
  local header = net.func("POP3", "HEADER", "0")
  check(header:find("sent over TLS", 1, true), "the message read back with " .. way[1] .. ": " .. header)
  header = net.func("POP3", "HEADER", "1")
  check(header:find("sent over SMTPS", 1, true), "the SMTPS message read back with " .. way[1] .. ": " .. header)
  check(net.command("POP3", "LOGOFF") == 0, "LOGOFF with " .. way[1])
end

-- Nobody vouches for the server: the handshake is refused, the login not sent.
net.command("TLS", "CAFILE", "")
check(net.command("POP3", "LOGON", "127.0.0.1:" .. pop3s) == 206, "untrusted POP3S refused")
check(net.error():find("untrusted issuer", 1, true), "reason: " .. net.error())
