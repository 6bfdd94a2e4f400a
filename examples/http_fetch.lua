-- Fetches a page and prints it line by line, or saves a file.
--   nethost examples/http_fetch.lua URL              print the page
--   nethost examples/http_fetch.lua URL FILE         save it to FILE
--   PROXY=host:port PROXY_USER=u PROXY_PASS=p nethost examples/http_fetch.lua URL
local url, file = arg[1], arg[2]
if not url then
  print("usage: http_fetch.lua URL [FILE]")
  os.exit(2)
end
if os.getenv("PROXY") then
  net.command("HTTP", "PROXY", os.getenv("PROXY"), os.getenv("PROXY_USER") or "",
              os.getenv("PROXY_PASS") or "")
end
local code
if file then
  code = net.command("HTTP", "DOWNLOAD", url, file)
else
  code = net.command("HTTP", "GET", url)
end
if code ~= 0 then
  print("failed with code " .. code .. ": " .. net.error())
  os.exit(1)
end
if not file then
  -- The page ends with a text of one carriage return.
  for line in net.lines("HTTP") do print(line) end
end
