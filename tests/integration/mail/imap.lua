-- The IMAP family against dovecot, on the mailbox imap_peer.py seeded.
-- arg: CA file, IMAP port (STARTTLS required), IMAPS port, work folder,
-- the command that runs imap_peer.py
local ca, port, imaps, work, peer = arg[1], arg[2], arg[3], arg[4], arg[5]
local function check(cond, what)
  if not cond then error(what .. " (status " .. net.status() .. ", IPERROR: " .. net.error() .. ")", 2) end
end
local function ok(...)
  check(net.command("IMAP", ...) == 0, table.concat({ ... }, " "))
end
local function list(fn)
  local out = {}
  while true do
    local v = net.func("IMAP", fn, tostring(#out))
    if v == "" then return out end
    out[#out + 1] = v
  end
end
-- The UID of the one message of INBOX whose subject is subject.
local function uid(subject)
  ok("SEARCH", 'SUBJECT "' .. subject .. '"')
  local found = list("RESULT")
  check(#found == 1, "one message '" .. subject .. "', not " .. #found)
  return found[1]
end
local function flags(id)
  ok("GETHEADERS", id)
  return net.func("IMAP", "FLAGS", "0")
end

net.command("TLS", "CAFILE", ca)
ok("USERNAME", "test")
ok("PASSWORD", "secret")
-- Where the server says LOGINDISABLED, the password does not go in clear.
check(net.command("IMAP", "LOGON", "127.0.0.2:" .. port) == 206, "LOGON in clear refused")
check(net.error():find("LOGINDISABLED", 1, true), "the reason: " .. net.error())
ok("SECURE", "STARTTLS")
ok("LOGON", "127.0.0.1:" .. port)
check(net.func("IMAP", "CAPABILITY"):find(" MOVE ", 1, true), "MOVE offered")

-- Folders both ways: the peer's 日本語, and ours seen by the peer (check).
local folders, uses = list("FOLDER"), {}
for i, name in ipairs(folders) do uses[name] = net.func("IMAP", "SPECIALUSE", tostring(i - 1)) end
check(uses["日本語"] == "" and uses["INBOX"] == "", "日本語 and INBOX listed: " .. table.concat(folders, ","))
check(uses["Sent"] == "\\Sent" and uses["Archive"] == "\\Archive", "special uses")
ok("MAKEFOLDER", "Entwürfe/Été")
check(table.concat(list("FOLDER"), ","):find("Entwürfe/Été", 1, true), "the new folder listed")

ok("SELECT", "INBOX")
local exists, validity, nextuid, unseen = net.func("IMAP", "STATUS"):match("^(%d+) (%d+) (%d+) (%d+)$")
check(exists == "8" and unseen == "5" and tonumber(validity) > 0 and nextuid == "9", "STATUS " .. net.func("IMAP", "STATUS"))

-- Searches: unseen, by sender (not ASCII), since a date.
ok("SEARCH", "UNSEEN")
check(#list("RESULT") == 5, "five unseen")
ok("SEARCH", 'FROM "Jürgen"')
check(#list("RESULT") == 1, "one from Jürgen")
ok("GETHEADERS", "")
check(net.func("IMAP", "FROM", "0") == "Jürgen Groß <jg@example.org>", "From decoded: " .. net.func("IMAP", "FROM", "0"))
check(net.func("IMAP", "SUBJECT", "0") == "Grüße", "Subject decoded")
check(net.func("IMAP", "DATE", "0") == "Tue, 01 Dec 2026 10:00:00 +0000", "Date")
check(tonumber((net.func("IMAP", "SIZE", "0"))) > 100000, "the size counts the attachment")
local juergen = net.func("IMAP", "UID", "0")
ok("SEARCH", "SINCE 1-Jan-2024")
check(#list("RESULT") == 7, "all but the old news since 2024")
ok("GETHEADERS", "1:*")
check(#list("UID") == 8, "summaries of all eight")

-- The message with its attachment; reading it leaves it unseen.
ok("GETMAIL", juergen)
check(net.func("IMAP", "ATTACHMENT", "COUNT") == "2", "two parts")
check(net.func("IMAP", "ATTACHMENT", "FILENAME", "1") == "data.bin", "the file's name")
ok("SAVEATTACHMENT", "1", work .. "/saved.bin")
check(not flags(juergen):find("\\Seen", 1, true), "still unseen after GETMAIL")

-- The same as jobs, each on a logon of its own to the folder selected:
-- TAKE leaves what the blocking commands leave, and an IDLE job is woken
-- by a delivery while the script goes on.
local function summaries()
  local all = {}
  for k, id in ipairs(list("UID")) do
    local at = tostring(k - 1)
    all[k] = table.concat({ id, net.func("IMAP", "FROM", at), net.func("IMAP", "SUBJECT", at),
      net.func("IMAP", "SIZE", at), net.func("IMAP", "FLAGS", at) }, "|")
  end
  return table.concat(all, "\n")
end
local function message()
  local lines = {}
  for k = 0, 100000 do
    local line = net.func("IMAP", "MAIL", tostring(k))
    if line == "\r" then break end
    lines[#lines + 1] = line
  end
  return table.concat(lines, "\n") .. "|" .. net.func("IMAP", "ATTACHMENT", "COUNT") .. "|" ..
    net.func("IMAP", "ATTACHMENT", "FILENAME", "1")
end
local function taken(...)
  local id, code = net.job("IMAP", ...)
  check(id, "JOB START IMAP " .. table.concat({ ... }, " ") .. ": " .. tostring(code))
  local status = net.func("JOB", "WAIT", id, "60000")
  check(status:match("^DONE "), "IMAP " .. table.concat({ ... }, " ") .. " as a job: " .. status)
  check(net.command("JOB", "TAKE", id) == 0, "TAKE")
end
ok("GETHEADERS", "1:*")
local headers = summaries()
local message1 = message()
ok("GETHEADERS", juergen)
taken("GETHEADERS", "1:*")
check(summaries() == headers, "summaries taken:\n" .. summaries() .. "\nblocking:\n" .. headers)
ok("GETMAIL", uid("hello"))
taken("GETMAIL", juergen)
check(message() == message1, "the message taken is the one GETMAIL reads")
check(net.func("JOB", "START", "IMAP", "GETMAIL", "x") == "" and net.status() == 25,
  "a UID that is none refused at the start")

-- Flags set and cleared, one of them set by the peer.
local hello, flagged = uid("hello"), uid("flagged elsewhere")
check(flags(flagged):find("\\Flagged", 1, true), "the peer's flag: " .. flags(flagged))
ok("FLAG", hello, "+\\Seen +$Done")
ok("FLAG", flagged, "-\\Flagged")
check(flags(hello):find("$Done", 1, true), "the keyword set")
check(net.command("IMAP", "FLAG", "999", "+\\Seen") == 206, "FLAG of no message")

-- DELMAIL leaves the message the peer marked \Deleted.
ok("DELMAIL", uid("to delete"))
ok("MOVE", uid("to move"), "Archive")
local saved = io.open(work .. "/sent.eml", "w")
saved:write("From: test@example.org\nSubject: filed copy\n\nsent earlier\n")
saved:close()
ok("APPEND", "Sent", work .. "/sent.eml", "\\Seen")

-- New mail while waiting, then a wait that runs out.
os.execute(peer .. " deliver >" .. work .. "/deliver.log 2>&1 &")
ok("IDLE", "60")
check(net.func("IMAP", "CHANGED") == "1", "IDLE woken by the delivery")
-- An IDLE job that runs out: TAKE leaves what IDLE leaves.
taken("IDLE", "1")
check(net.func("IMAP", "CHANGED") == "0", "an IDLE job ran out")
uid("delivered meanwhile")
ok("IDLE", "1")
check(net.func("IMAP", "CHANGED") == "0", "IDLE ran out")
ok("LOGOFF")
check(net.command("IMAP", "SEARCH", "ALL") == 206, "nothing selected after LOGOFF")

-- IMAPS, TLS from the first byte: the moved message arrived.
ok("SECURE", "TLS")
ok("LOGON", "127.0.0.1:" .. imaps)
ok("SELECT", "Archive")
ok("SEARCH", 'SUBJECT "to move"')
check(#list("RESULT") == 1, "moved into Archive")

-- A server without MOVE: the copy, then that message alone expunged.
ok("SECURE", "STARTTLS")
ok("LOGON", "127.0.0.2:" .. port)
check(not net.func("IMAP", "CAPABILITY"):find("MOVE", 1, true), "no MOVE on 127.0.0.2")
ok("SELECT", "INBOX")
ok("MOVE", uid("moved by copy"), "日本語")
ok("SEARCH", 'SUBJECT "moved by copy"')
check(#list("RESULT") == 0, "gone from INBOX")
ok("LOGOFF")

-- Nobody vouches for the server: no log-on.
net.command("TLS", "CAFILE", "")
ok("SECURE", "TLS")
check(net.command("IMAP", "LOGON", "127.0.0.1:" .. imaps) == 206, "untrusted IMAPS refused")
check(net.error():find("untrusted issuer", 1, true), "reason: " .. net.error())
