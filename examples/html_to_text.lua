-- Turns an HTML file into plain text with the library's HTML filter, line
-- by line, the way a script would filter a page it fetched.
--
--   nethost examples/html_to_text.lua FILE.html [--keep-entities]
--
-- Tags are removed even when they run over several lines; entities such as
-- "&amp;" are removed too unless --keep-entities is given. Lines that hold
-- nothing but markup are left out.

local path = arg[1]
if not path then
  io.stderr:write("usage: nethost html_to_text.lua FILE.html [--keep-entities]\n")
  os.exit(2)
end
local file, err = io.open(path, "rb")
if not file then
  io.stderr:write(err, "\n")
  os.exit(1)
end

net.command("HTML", "FIX", arg[2] == "--keep-entities" and "" or "1")

local first = true
for line in file:lines() do
  line = line:gsub("\r$", "")
  -- The first line starts outside any tag; later ones continue the state.
  local text, code = net.func("HTML", line, first and "" or "1")
  if code ~= 0 then
    io.stderr:write("HTML filter failed with code ", code, "\n")
    os.exit(1)
  end
  if line:find("%S") then first = false end
  text = text:gsub("^%s+", ""):gsub("%s+$", "")
  if text ~= "" then print(text) end
end
file:close()
