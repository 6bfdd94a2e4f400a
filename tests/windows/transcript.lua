-- Runs a transcript script in nethost and prints what the script sees, in
-- the same form as transcript_host.exe prints it for the Windows DLL; with
-- OUTPUT into that file, standard output left to what the script writes
-- there (CGI).
--   nethost transcript.lua SCRIPT [OUTPUT]
local function escape(text)
  return (text:gsub("[%c\128-\255\\]", function(c)
    if c == "\\" then return "\\\\" end
    return string.format("\\x%02X", c:byte())
  end))
end

local out = arg[2] and assert(io.open(arg[2], "wb")) or io.stdout
local function print(text)
  out:write(text, "\n")
  out:flush()
end

print("init NET 13 65536")
for line in io.lines(arg[1]) do
  line = line:gsub("\r$", "")
  if line ~= "" and line:sub(1, 1) ~= "#" then
    local f = {}
    for x in (line .. "\t"):gmatch("([^\t]*)\t") do f[#f + 1] = x end
    local op, rest = f[1], { table.unpack(f, 2) }
    local shown = table.concat(rest, " ")
    if op == "command" or op == "netfailure" then
      local code = net.command(table.unpack(rest))
      if op == "netfailure" and code >= 211 and code <= 231 then code = "a network-drive error" end
      print(op .. " " .. shown .. " = " .. code)
    elseif op == "func" or op == "shape" or op == "reason" then
      local result, code = net.func(table.unpack(rest))
      if op == "shape" then result = result:gsub("%d", "N") end
      if op == "reason" then result = result:match("^(.-) %(") or result end
      print(op .. " " .. shown .. " = \"" .. escape(result) .. "\" " .. code)
    elseif op == "wait" or op == "waitset" then
      local want, seen = tonumber(f[2]), {}
      net.onevent = function(name)
        seen[#seen + 1] = name
        if #seen >= want then net.stop() end
      end
      net.wait(tonumber(f[3]) / 1000)
      net.onevent = nil
      if op == "waitset" then table.sort(seen) end
      print(op .. " " .. f[2] .. " =" .. (#seen > 0 and " " .. table.concat(seen, " ") or ""))
    elseif op == "size" then
      local file = io.open(f[2], "rb")
      print("size " .. f[2] .. " = " .. (file and file:seek("end") or -1))
      if file then file:close() end
    else
      print("unknown step " .. op)
    end
  end
end
