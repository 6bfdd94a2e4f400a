-- Sends a message with two attachments.
--
--   nethost examples/mail_send.lua SERVER[:PORT] FROM TO FILE1 FILE2
--
-- For example: nethost examples/mail_send.lua mail.example.org me@example.org
--              you@example.org report.pdf figures.csv
local server, from, to, file1, file2 = arg[1], arg[2], arg[3], arg[4], arg[5]
if not file2 then
  io.stderr:write("usage: nethost mail_send.lua SERVER[:PORT] FROM TO FILE1 FILE2\n")
  os.exit(2)
end

local function smtp(...)
  local code = net.command("SMTP", ...)
  if code ~= 0 then
    error(string.format("SMTP %s failed with code %d: %s", (...), code, net.error()), 2)
  end
end

smtp("RECIPIENTS", "CLEAR")
smtp("RECIPIENTS", "ADD", to)
smtp("FROM", from)
smtp("SUBJECT", "Two files for you")
smtp("MESSAGE", "CLEAR")
smtp("MESSAGE", "ADD", "Hello,")
smtp("MESSAGE", "ADD", "")
smtp("MESSAGE", "ADD", "here are the two files we spoke about.")
smtp("ATTACHMENT", "CLEAR")
smtp("ATTACHMENT", "ADD", file1)
smtp("ATTACHMENT", "ADD", file2)
smtp("SEND", server)
print("sent to " .. to)
