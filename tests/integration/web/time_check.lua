-- arg: host:port of an RFC 868 time service
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check = t.check
local host = arg[1]

local text = net.func("TIME", "TIME", host)
check(net.status() == 0 and text:match("^%d%d%d%d%-%d%d%-%d%d"), "TIME: " .. text)
-- The server's clock is this machine's: within a few seconds of it (UTC).
local binary = tonumber((net.func("time", "binary")))
local now = os.time() / 86400 + 25569
check(math.abs(binary - now) * 86400 < 5, "BINARY " .. binary .. " against " .. now)
check(text:sub(1, 10) == os.date("!%Y-%m-%d", math.floor((binary - 25569) * 86400 + 0.5)), "TIME text")

-- OFFSET is UTC against the local clock.
local offset = tonumber((net.func("TIME", "OFFSET")))
local zone = os.time(os.date("!*t")) - os.time(os.date("*t"))
check(math.abs(offset - zone) < 5, "OFFSET " .. offset)

-- A failed query reports 206 and keeps the last time.
check(net.func("TIME", "TIME", "127.0.0.1:1") == "" and net.status() == 206, "refused")
check(net.error() == "Error creating socket", "IPERROR " .. net.error())
check(tonumber((net.func("TIME", "BINARY"))) == binary, "last time kept")
check(net.func("TIME", "TIME", "127.0.0.1:x") == "" and net.status() == 25, "port that is no number")
net.func("TIME", "NOSUCH")
check(net.status() == 13, "unknown sub-function")
print("time checks: ok")
