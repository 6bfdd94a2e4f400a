-- Lists a folder of an FTP server and downloads its files.
--   nethost examples/ftp_mirror.lua HOST[:PORT] USER PASSWORD FOLDER LOCAL-FOLDER
local host, user, password, folder, target = table.unpack(arg)
if not target then
  print("usage: ftp_mirror.lua HOST[:PORT] USER PASSWORD FOLDER LOCAL-FOLDER")
  os.exit(2)
end
local function must(code, what)
  if code ~= 0 then
    print(what .. " failed with code " .. code .. ": " .. net.error())
    os.exit(1)
  end
end
-- The names come from the server, and a server (or anyone who can put a
-- file there) may list "../x" or "a/../../x": joined to the target folder
-- such a name would write outside it, over any file the user may change.
-- Only names that stay inside are taken: no folder separator of any
-- system, and not "." or "..".
local function plainName(name)
  return name ~= "" and name ~= "." and name ~= ".." and not name:find("[/\\]")
end
net.command("FTP", "USERNAME", user)
net.command("FTP", "PASSWORD", password)
must(net.command("FTP", "LOGON", host), "LOGON")
must(net.command("FTP", "CHANGEDIR", folder), "CHANGEDIR")
must(net.command("FTP", "GETDIR", "."), "GETDIR")
local files = {}
while true do
  -- KIND|NAME|SIZE|DATE TEXT|DAY NUMBER, empty after the last entry
  local entry = net.func("FTP", "DIRENTRY")
  if entry == "" then break end
  local kind, name, size, date = entry:match("^(%u+)|(.*)|(%d+)|(.*)|")
  print(string.format("%-4s %12s  %-19s  %s", kind, size, date, name))
  if kind == "FILE" and plainName(name) then
    files[#files + 1] = name
  elseif kind == "FILE" then
    print("  skipped: " .. name .. " is not a plain file name")
  end
end
for _, name in ipairs(files) do
  must(net.command("FTP", "DOWNLOAD", name, target .. "/" .. name), "DOWNLOAD " .. name)
end
net.command("FTP", "LOGOFF")
print(#files .. " files downloaded")
