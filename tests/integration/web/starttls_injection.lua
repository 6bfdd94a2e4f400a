-- arg: CA file, then the ports of the SMTP, POP3 and FTP injectors. Each
-- slips a failure reply in clear text behind its go-ahead for TLS; the
-- dialogue over TLS must go through as if it had never been sent.
local ca, smtp, pop3, ftp = arg[1], arg[2], arg[3], arg[4]
local function check(cond, what)
  if not cond then error(what .. " (status " .. net.status() .. ", IPERROR: " .. net.error() .. ")", 2) end
end

net.command("TLS", "CAFILE", ca)

net.command("SMTP", "SECURE", "STARTTLS")
net.command("SMTP", "RECIPIENTS", "ADD", "bob@example.org")
net.command("SMTP", "FROM", "anna@example.org")
net.command("SMTP", "MESSAGE", "ADD", "body")
check(net.command("SMTP", "SEND", "127.0.0.1:" .. smtp) == 0, "SMTP SEND through STARTTLS")

net.command("POP3", "SECURE", "STARTTLS")
net.command("POP3", "USERNAME", "anna")
net.command("POP3", "PASSWORD", "secret")
check(net.command("POP3", "LOGON", "127.0.0.1:" .. pop3) == 0, "POP3 LOGON through STLS")
check(net.command("POP3", "LOGOFF") == 0, "POP3 LOGOFF")

net.command("FTP", "SECURE", "STARTTLS")
net.command("FTP", "USERNAME", "anna")
net.command("FTP", "PASSWORD", "secret")
check(net.command("FTP", "LOGON", "127.0.0.1:" .. ftp) == 0, "FTP LOGON through AUTH TLS")
check(net.command("FTP", "LOGOFF") == 0, "FTP LOGOFF")
