-- Reads the round-trip message back over POP3, saves its parts and deletes
-- it. arg[1]: POP3 port, arg[2]: work dir (the parts go to got0.bin ...,
-- the text part to got_body.txt).
local port, dir = arg[1], arg[2]
dofile((arg[0]:gsub("read%.lua$", "international.lua")))

local function cmd(...)
  local code = net.command(...)
  if code ~= 0 then
    error(table.concat({...}, " ") .. " gave " .. code .. ": " .. net.error(), 2)
  end
end
local function check(cond, msg) if not cond then error(msg, 2) end end
local function func(...)
  local text, code = net.func(...)
  if code ~= 0 then error(table.concat({...}, " ") .. " gave " .. code, 2) end
  return text
end

cmd("POP3", "USERNAME", "test")
cmd("POP3", "PASSWORD", "secret")
cmd("POP3", "LOGON", "127.0.0.1:" .. port)
cmd("POP3", "GETHEADERS")
local number, international
local k = 0
while true do
  local h = func("POP3", "HEADER", tostring(k))
  if h == "" then break end
  if func("POP3", "SUBJECT", tostring(k)) == INTERNATIONAL_SUBJECT then
    international = k + 1
    check(h:find("^=%?UTF%-8%?B%?"), "raw summary " .. h)
    check(func("POP3", "FROM", tostring(k)) == "J\u{F6}rg M\u{FC}ller <sender@example.org>",
          "decoded sender " .. func("POP3", "FROM", tostring(k)))
  else
    check(h:find("^Sender Name <sender@example.org>\a"), "summary " .. h)
    check(func("POP3", "FROM", tostring(k)) == "Sender Name <sender@example.org>", "sender " .. k)
  end
  if h:find("\around trip$") then number = k + 1 end
  k = k + 1
end
check(k == 4, "expected 4 summaries, got " .. k)
check(number, "round trip message not listed")
check(international, "international message not listed")

-- Its attachment's file name comes back as sent, fit to save under.
cmd("POP3", "GETMAIL", tostring(international))
check(func("POP3", "ATTACHMENT", "COUNT") == "2", "international part count")
local name = func("POP3", "ATTACHMENT", "FILENAME", "0")
check(name == INTERNATIONAL_FILE, "file name " .. name)
cmd("POP3", "SAVEATTACHMENT", "0", dir .. "/got_" .. name)

cmd("POP3", "GETMAIL", tostring(number))
local count, first = 0, nil
for line in net.lines("POP3", "MAIL") do
  count = count + 1
  first = first or line
end
check(first == "From: Sender Name <sender@example.org>" or first:find("^Return%-Path"), "first line " .. tostring(first))
check(count > 400000, "only " .. count .. " lines")

check(func("POP3", "ATTACHMENT", "COUNT") == "5", "attachment count")
local names = {"att0.bin", "att1.bin", "att1m.bin", "att20m.bin"}
for i, name in ipairs(names) do
  check(func("POP3", "ATTACHMENT", "KIND", tostring(i - 1)) == "application/octet-stream", "kind " .. i)
  check(func("POP3", "ATTACHMENT", "DISPOSITION", tostring(i - 1)) ==
        'attachment; filename="' .. name .. '"', "disposition " .. i)
  cmd("POP3", "SAVEATTACHMENT", tostring(i - 1), dir .. "/got_" .. name)
end
check(func("POP3", "ATTACHMENT", "KIND", "4") == "text/plain", "text part kind")
check(func("POP3", "ATTACHMENT", "DISPOSITION", "4") == "", "text part disposition")
cmd("POP3", "SAVEATTACHMENT", "4", dir .. "/got_body.txt")
check(net.command("POP3", "SAVEATTACHMENT", "5", dir .. "/never") == 241, "index past the end")

cmd("POP3", "DELMAIL", tostring(number))
cmd("POP3", "LOGOFF")

-- The deletion took effect with the QUIT of LOGOFF.
cmd("POP3", "LOGON", "127.0.0.1:" .. port)
cmd("POP3", "GETHEADERS")
check(func("POP3", "HEADER", "3") == "", "three messages after DELMAIL")
for i = 0, 2 do
  check(not func("POP3", "HEADER", tostring(i)):find("round trip"), "the deleted message is still listed")
end
cmd("POP3", "LOGOFF")
print("read")
