-- Sends the round-trip message with four attachments, then two small
-- messages straight after each other, then one with international texts.
-- arg[1]: SMTP port, arg[2]: work dir holding att0.bin, att1.bin, att1m.bin,
-- att20m.bin and INTERNATIONAL_FILE; the body lines sent are written to
-- body.txt there, each followed by CR LF.
local port, dir = arg[1], arg[2]
dofile((arg[0]:gsub("send%.lua$", "international.lua")))
local server = "127.0.0.1:" .. port

local function cmd(...)
  local code = net.command(...)
  if code ~= 0 then
    error(table.concat({...}, " ") .. " gave " .. code .. ": " .. net.error(), 2)
  end
end

local body = {
  "Dear reader,",
  ".",
  ".hidden",
  "..",
  string.rep("0123456789", 200),
  "caf\xE9 na\xEFve \xC3\xA9t\xC3\xA9 = tax",
  "trailing blanks  ",
  "tab at the end\t",
  "",
  "last line",
}

cmd("SMTP", "RECIPIENTS", "ADD", "To One <to1@example.org>, to2@example.org")
cmd("SMTP", "CC", "ADD", "cc@example.org")
cmd("SMTP", "BCC", "ADD", "hidden-bcc@example.org")
cmd("SMTP", "FROM", "Sender Name <sender@example.org>")
cmd("SMTP", "SUBJECT", "round trip")
for _, line in ipairs(body) do cmd("SMTP", "MESSAGE", "ADD", line) end
for _, name in ipairs({"att0.bin", "att1.bin", "att1m.bin", "att20m.bin"}) do
  cmd("SMTP", "ATTACHMENT", "ADD", dir .. "/" .. name)
end
cmd("SMTP", "SEND", server)

local f = assert(io.open(dir .. "/body.txt", "wb"))
for _, line in ipairs(body) do f:write(line, "\r\n") end
f:close()

-- Two small messages as fast as they go: their ids must still differ.
cmd("SMTP", "ATTACHMENT", "CLEAR")
cmd("SMTP", "MESSAGE", "CLEAR")
cmd("SMTP", "BCC", "CLEAR")
cmd("SMTP", "MESSAGE", "ADD", "small")
cmd("SMTP", "SUBJECT", "small one")
cmd("SMTP", "SEND", server)
cmd("SMTP", "SUBJECT", "small two")
cmd("SMTP", "SEND", server)

-- Names, subject and a file name beyond ASCII (the texts are UTF-8).
cmd("SMTP", "RECIPIENTS", "CLEAR")
cmd("SMTP", "CC", "CLEAR")
cmd("SMTP", "RECIPIENTS", "ADD", "Zo\u{EB} \u{C5}str\u{F6}m <to1@example.org>")
cmd("SMTP", "FROM", "J\u{F6}rg M\u{FC}ller <sender@example.org>")
cmd("SMTP", "SUBJECT", INTERNATIONAL_SUBJECT)
cmd("SMTP", "ATTACHMENT", "ADD", dir .. "/" .. INTERNATIONAL_FILE)
cmd("SMTP", "SEND", server)
print("sent")
