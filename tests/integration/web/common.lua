-- Helpers for the integration checks run by nethost.
local M = {}

function M.check(cond, what)
  if not cond then
    error(what .. " (status " .. tostring(net.status()) .. ", IPERROR: " .. net.error() .. ")", 2)
  end
end

function M.sha(path)
  local p = io.popen("sha256sum '" .. path .. "' 2>/dev/null")
  local out = p:read("*a")
  p:close()
  return out:match("^(%x+)")
end

function M.exists(path)
  local f = io.open(path, "rb")
  if f then f:close() return true end
  return false
end

function M.isdir(path)
  return os.execute("test -d '" .. path .. "'") == true
end

function M.lines(name, ...)
  local t = {}
  for l in net.lines(name, ...) do t[#t + 1] = l end
  return t
end

function M.listdir(path)
  local t = {}
  local p = io.popen("ls -A '" .. path .. "'")
  for l in p:lines() do t[#t + 1] = l end
  p:close()
  return t
end

return M
