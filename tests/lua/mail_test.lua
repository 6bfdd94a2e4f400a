-- The SMTP and POP3 families through the entry points, without a server:
-- the settings they keep, and the codes of what goes wrong.
local function check(cond, msg) if not cond then error(msg, 2) end end

-- Settings are taken in any letter case and kept.
check(net.command("smtp", "recipients", "add", "a@example.org") == 0, "RECIPIENTS ADD")
check(net.command("Smtp", "Bcc", "Clear") == 0, "BCC CLEAR")
check(net.command("SMTP", "CC", "DROP", "x") == 14, "a miss in CLEAR|ADD")
check(net.command("SMTP", "FORWARD") == 14, "unknown SMTP subcommand")
check(net.command("SMTP", "DISCLOSE", "0") == 0, "DISCLOSE")

-- No sender yet: a send does nothing and reports nothing.
check(net.command("SMTP", "SEND", "127.0.0.1:1") == 0, "SEND without FROM")
check(net.command("SMTP", "FROM", "me@example.org") == 0, "FROM")
-- Now there is something to send, and nobody listens.
check(net.command("SMTP", "SEND", "127.0.0.1:1") == 206, "SEND to a closed port")
check(net.error() == "Error creating socket", "IPERROR after a refused connection: " .. net.error())
check(net.command("SMTP", "SEND", "127.0.0.1:70000") == 25, "a port out of range")

-- Local files.
check(net.command("SMTP", "ATTACHMENT", "ADD", "/nonexistent/dir/file.bin") == 240, "unreadable attachment")
check(net.error():find("^Cannot open file"), "IPERROR of an unreadable file: " .. net.error())
check(net.command("SMTP", "ATTACHMENT", "CLEAR") == 0, "ATTACHMENT CLEAR")

-- POP3 before any message was read.
check(net.command("pop3", "username", "u") == 0, "USERNAME")
check(net.command("POP3", "LOGON", "127.0.0.1:1") == 206, "LOGON to a closed port")
check(net.command("POP3", "LOGOFF") == 0, "LOGOFF while not connected")
local text, code = net.func("POP3", "HEADER", "0")
check(text == "" and code == 0, "HEADER without GETHEADERS")
text, code = net.func("POP3", "MAIL", "0")
check(text == "\r" and code == 0, "MAIL without GETMAIL")
local n = 0
for _ in net.lines("POP3", "MAIL") do n = n + 1 end
check(n == 0, "no lines")
text, code = net.func("POP3", "ATTACHMENT", "COUNT")
check(text == "0" and code == 0, "COUNT")
text, code = net.func("POP3", "ATTACHMENT", "KIND", "0")
check(text == "" and code == 241, "KIND of a missing part gives " .. code)
check(net.error() == "No attachment at index 0 (the message has 0)", net.error())
text, code = net.func("POP3", "ATTACHMENT", "KIND", "zero")
check(code == 25, "a part index that is not a number")
check(net.command("POP3", "SAVEATTACHMENT", "0", "/tmp/never-written") == 241, "SAVEATTACHMENT of a missing part")
text, code = net.func("POP3", "ATTACHMENT", "NAME", "0")
check(code == 13, "unknown ATTACHMENT item")
print("mail families: ok")
