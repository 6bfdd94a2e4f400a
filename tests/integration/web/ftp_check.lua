-- arg: host:port, served folder, output folder, local folder, user, password, server name
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check, sha = t.check, t.sha
local host, served, out, localDir, user, password, server =
  arg[1], arg[2], arg[3], arg[4], arg[5], arg[6], arg[7]

-- A wrong password is a protocol failure with the server's reply.
net.command("FTP", "USERNAME", user)
net.command("FTP", "PASSWORD", "not-" .. password)
check(net.command("FTP", "LOGON", host) == 206, "wrong password gives 206")
check(net.error() ~= "", "IPERROR of a refused logon")
net.command("FTP", "PASSWORD", password)
check(net.command("FTP", "LOGON", host) == 0, "LOGON")

-- A listing with files, folders, a link and a name with blanks, each once.
check(net.command("FTP", "GETDIR", "folder") == 0, "GETDIR")
local seen = {}
for _ = 1, 20 do
  local e = net.func("FTP", "DIRENTRY")
  if e == "" then break end
  local kind, name, size, text, number = e:match("^(%u+)|(.*)|(%d+)|(.*)|(.*)$")
  check(kind, "entry format: " .. e)
  check(not seen[name], "entry listed twice: " .. name)
  check(tonumber(number) > 40000 and text:sub(1, 4) == os.date("!%Y"), "entry date: " .. e)
  seen[name] = { kind = kind, size = tonumber(size) }
end
check(net.func("FTP", "DIRENTRY") == "", "listing stays at its end")
check(seen["a.txt"] and seen["a.txt"].kind == "FILE" and seen["a.txt"].size == 3, "a.txt")
check(seen["name with spaces.txt"] and seen["name with spaces.txt"].kind == "FILE", "name with spaces")
check(seen["sub"] and seen["sub"].kind == "DIR", "folder sub")
check(seen["other dir"] and seen["other dir"].kind == "DIR", "folder with a blank")
check(seen["link"] and seen["link"].kind == "LINK", "link")
check(not seen["."] and not seen[".."], "no . and ..")

-- Downloads of every size, compared by SHA-256.
for _, name in ipairs { "empty.bin", "one.bin", "mib.bin", "big.bin" } do
  check(net.command("FTP", "DOWNLOAD", name, out .. "/" .. name) == 0, "DOWNLOAD " .. name)
  check(sha(out .. "/" .. name) == sha(served .. "/" .. name), "content of " .. name)
end

-- An upload and its way back.
check(net.command("FTP", "UPLOAD", localDir .. "/upload.bin", "up.bin") == 0, "UPLOAD")
check(sha(served .. "/up.bin") == sha(localDir .. "/upload.bin"), "uploaded content")
check(net.command("FTP", "DOWNLOAD", "up.bin", out .. "/back.bin") == 0, "DOWNLOAD of the upload")
check(sha(out .. "/back.bin") == sha(localDir .. "/upload.bin"), "round trip")

-- Folders and files.
check(net.command("FTP", "MAKEDIR", "made") == 0 and t.isdir(served .. "/made"), "MAKEDIR")
check(net.command("FTP", "CHANGEDIR", "made") == 0, "CHANGEDIR")
check(net.command("FTP", "UPLOAD", localDir .. "/upload.bin", "inside.bin") == 0, "UPLOAD into the folder")
check(t.exists(served .. "/made/inside.bin"), "file in the changed folder")
check(net.command("FTP", "DELFILE", "inside.bin") == 0, "DELFILE inside")
check(net.command("FTP", "CHANGEDIR", "..") == 0, "CHANGEDIR ..")
check(net.command("FTP", "DELDIR", "made") == 0 and not t.isdir(served .. "/made"), "DELDIR")
check(net.command("FTP", "RENFILE", "up.bin", "renamed.bin") == 0, "RENFILE")
check(t.exists(served .. "/renamed.bin") and not t.exists(served .. "/up.bin"), "renamed")
check(net.command("FTP", "DELFILE", "renamed.bin") == 0 and not t.exists(served .. "/renamed.bin"), "DELFILE")

-- A refused command leaves the logon usable, with the reply as IPERROR.
check(net.command("FTP", "DELFILE", "no-such-file") == 206, "refused DELE")
local refusal = net.error()
check(refusal ~= "" and not refusal:find("^%d%d%d"), "IPERROR holds the reply text: " .. refusal)
check(net.command("FTP", "GETDIR", "folder") == 0 and net.func("FTP", "DIRENTRY") ~= "", "usable after a refusal")
check(net.command("FTP", "DOWNLOAD", "no-such-file", out .. "/none.bin") == 206, "refused RETR")
check(not t.exists(out .. "/none.bin"), "nothing written for a refused download")
check(net.command("FTP", "DOWNLOAD", "one.bin", out .. "/one-again.bin") == 0, "usable after a refused RETR")

-- Local file failures.
check(net.command("FTP", "UPLOAD", localDir .. "/missing.bin", "x.bin") == 240, "UPLOAD of a missing file")
check(net.error():find("Cannot open file", 1, true), "IPERROR of a missing local file")
check(not t.exists(served .. "/x.bin"), "nothing stored for a missing local file")
check(net.command("FTP", "DOWNLOAD", "mib.bin", out .. "/no/such/dir/m.bin") == 240, "DOWNLOAD into a missing folder")

-- After LOGOFF the next operation logs on by itself; a second LOGOFF is harmless.
check(net.command("FTP", "LOGOFF") == 0, "LOGOFF")
check(net.command("FTP", "LOGOFF") == 0, "second LOGOFF")
check(net.command("FTP", "DOWNLOAD", "one.bin", out .. "/implicit.bin") == 0, "implicit logon")
check(sha(out .. "/implicit.bin") == sha(served .. "/one.bin"), "implicit logon content")
check(net.command("FTP", "LOGON", host) == 0, "LOGON again while logged on")
check(net.command("FTP", "LOGOFF") == 0, "final LOGOFF")
print("ftp checks against " .. server .. ": ok")
