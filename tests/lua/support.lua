-- Helpers shared by the end-to-end scripts: checks, temporary files, and
-- nethost run as a child with a prepared environment and standard input.
local M = {}

function M.check(cond, msg, level)
  if not cond then error(msg or "check failed", (level or 1) + 1) end
end

function M.eq(got, want, msg)
  if got ~= want then
    error(string.format("%s: got %q, want %q", msg or "mismatch", tostring(got), tostring(want)), 2)
  end
end

M.build = os.getenv("SCRIPTNET_BUILD_DIR") or error("SCRIPTNET_BUILD_DIR is not set")
M.nethost = M.build .. "/nethost"

local function quote(s) return "'" .. tostring(s):gsub("'", "'\\''") .. "'" end
M.quote = quote

local tempFiles = {}
function M.tempfile(content)
  local name = os.tmpname()
  tempFiles[#tempFiles + 1] = name
  if content then
    local f = assert(io.open(name, "wb"))
    f:write(content)
    f:close()
  end
  return name
end

function M.cleanup()
  for _, name in ipairs(tempFiles) do os.remove(name) end
  tempFiles = {}
end

function M.readfile(name)
  local f = assert(io.open(name, "rb"))
  local s = f:read("a")
  f:close()
  return s
end

-- Runs nethost on a script text. opts.env: table of variables (false unsets),
-- opts.stdin: text for standard input (nil: /dev/null), opts.redirect: extra
-- shell redirections, opts.program: another program than nethost. Returns
-- stdout, stderr, exit code.
function M.run(script, opts)
  opts = opts or {}
  local scriptFile = M.tempfile(script)
  local out, err = M.tempfile(), M.tempfile()
  local parts = { "env" }
  for k, v in pairs(opts.env or {}) do
    if v == false then table.insert(parts, 2, "-u " .. k) end
  end
  for k, v in pairs(opts.env or {}) do
    if v ~= false then parts[#parts + 1] = k .. "=" .. quote(v) end
  end
  parts[#parts + 1] = quote(opts.program or M.nethost)
  for _, a in ipairs(opts.args or { scriptFile }) do parts[#parts + 1] = quote(a) end
  local input = opts.stdin and M.tempfile(opts.stdin) or "/dev/null"
  local cmd = table.concat(parts, " ") .. " <" .. quote(input) .. " >" .. quote(out) .. " 2>" .. quote(err)
    .. (opts.redirect and (" " .. opts.redirect) or "")
  local ok, how, code = os.execute(cmd)
  if how == "signal" then error("nethost died of signal " .. tostring(code), 2) end
  return M.readfile(out), M.readfile(err), code
end

return M
