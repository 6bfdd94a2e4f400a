-- A CGI form handler. A web server runs it through nethost, for example with
-- lighttpd:  cgi.assign = (".lua" => "/path/to/nethost")
--
-- Without form data it answers with a page holding the same form twice, sent
-- by GET and by POST; with form data it shows the values it received.

local function html(text)
  return (text:gsub('[&<>"]', { ["&"] = "&amp;", ["<"] = "&lt;", [">"] = "&gt;", ['"'] = "&quot;" }))
end

local function write(line)
  if net.command("CGI", "WRITE", line) ~= 0 then os.exit(1) end -- the server went away
end

local fields = { "name", "comment", "long" }
local method = (os.getenv("REQUEST_METHOD") or ""):upper()
local rc = net.command("CGI", "AUTOPARSE")

write("Content-Type: text/html; charset=utf-8")
if rc ~= 0 then
  write("Status: 400 Bad Request")
  write("")
  write("<!DOCTYPE html><title>Bad request</title><p>Request not understood (code " .. rc .. ").</p>")
  return
end
write("")

-- Under GET the values arrive as the browser encoded them; CONVERT decodes.
local values, any = {}, false
for _, name in ipairs(fields) do
  local value, code = net.func("CGI", "PARSE", name)
  if method == "GET" then value, code = net.func("CGI", "CONVERT", value) end
  if code ~= 0 then value = "(undecodable)" end
  values[name] = value
  any = any or value ~= ""
end

if not any then
  write("<!DOCTYPE html>")
  write("<html><head><meta charset=\"utf-8\"><title>Form</title></head><body>")
  for _, m in ipairs({ "get", "post" }) do
    write('<form id="' .. m .. '" method="' .. m .. '" action="">')
    for _, name in ipairs(fields) do
      write('<p><label>' .. name .. ' <input name="' .. name .. '" id="' .. m .. '-' .. name .. '"></label></p>')
    end
    write('<p><button type="submit" id="' .. m .. '-send">Send by ' .. m:upper() .. '</button></p></form>')
  end
  write("</body></html>")
  return
end

write("<!DOCTYPE html>")
write("<html><head><meta charset=\"utf-8\"><title>Received</title></head><body>")
write('<p id="method">' .. html(method) .. "</p>")
for _, name in ipairs(fields) do
  write('<p id="' .. name .. '">' .. html(values[name]) .. "</p>")
end
write("</body></html>")
