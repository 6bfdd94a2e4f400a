-- Asks an RFC 868 time server for the time and compares it with this clock.
--   nethost examples/time_check.lua HOST[:PORT]
local host = arg[1] or "time.nist.gov"
local text, code = net.func("TIME", "TIME", host)
if code ~= 0 then
  print("no time from " .. host .. ": " .. net.error())
  os.exit(1)
end
print("server time (UTC): " .. text)
print("as a day number:   " .. net.func("TIME", "BINARY"))
-- UTC against the local clock: includes the local zone's offset.
print("server minus local clock, seconds: " .. net.func("TIME", "OFFSET"))
