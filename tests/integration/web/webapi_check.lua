-- arg: httpbin port, nginx http port, nginx https port, CA file, nginx's
-- folder, output folder, nginx's access log, cutting proxy port
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check, sha = t.check, t.sha
local bin = "http://127.0.0.1:" .. arg[1]
local web, tls = "http://127.0.0.1:" .. arg[2], "https://127.0.0.1:" .. arg[3]
local ca, www, out, log, cut = arg[4], arg[5], arg[6], arg[7], arg[8]

local function request(method, url, file)
  local code = net.command("HTTP", "REQUEST", method, url, file or "")
  check(code == 0, method .. " " .. url .. ": " .. code)
  return tonumber((net.func("HTTP", "STATUS")))
end
local function page() return table.concat(t.lines("HTTP"), "\n") end
local function has(text, part) return text:find(part, 1, true) ~= nil end
local function shell(cmd)
  local p = io.popen(cmd)
  local text = p:read("a")
  p:close()
  return text
end

-- Every method, with headers and a JSON body; the status and headers of the
-- answer; the caller's User-Agent in place of the client's own.
check(net.command("HTTP", "HEADER", "ADD", "X-Api-Key: k123") == 0, "HEADER ADD")
check(net.command("HTTP", "HEADER", "ADD", "Content-Type: application/json") == 0, "content type")
for _, method in ipairs { "GET", "POST", "PUT", "PATCH", "DELETE" } do
  if method ~= "GET" then net.command("HTTP", "BODY", "TEXT", '{"m":"' .. method .. '"}') end
  check(request(method, bin .. "/anything/x?q=1") == 200, method .. " status")
  local body = page()
  check(has(body, '"method":"' .. method .. '"') and has(body, '"X-Api-Key":"k123"'), method .. ": " .. body)
  check(method == "GET" or has(body, '"json":{"m":"' .. method .. '"}'), method .. " body: " .. body)
end
-- REQUEST as a background job: the body goes with it (the script's is
-- cleared at once), and TAKE leaves the page, the status and the headers
-- where the blocking command leaves them; the answer into a file as well.
net.command("HTTP", "BODY", "TEXT", '{"m":"job"}')
local id = net.job("HTTP", "REQUEST", "POST", bin .. "/anything/job")
check(id, "JOB START HTTP REQUEST")
check(net.func("JOB", "WAIT", id, "60000"):match("^DONE"), "REQUEST job done")
check(net.command("JOB", "TAKE", id) == 0 and net.func("HTTP", "STATUS") == "200", "REQUEST job taken")
check(net.func("HTTP", "HEADER", "content-type") == "application/json", "the job's answer headers")
local body = page()
check(has(body, '"json":{"m":"job"}') and has(body, '"X-Api-Key":"k123"'), "REQUEST job: " .. body)
id = net.job("HTTP", "REQUEST", "PUT", bin .. "/put", out .. "/job.json")
check(id and net.func("JOB", "WAIT", id, "60000"):match("^DONE") and net.command("JOB", "TAKE", id) == 0, "REQUEST job to a file")
local stored = io.open(out .. "/job.json", "rb")
check(stored and has(stored:read("a"), '"data":""'), "the job's body was its own, the script's cleared")
stored:close()
check(request("OPTIONS", bin .. "/anything") == 200 and has(net.func("HTTP", "HEADER", "allow"), "PATCH"), "OPTIONS")
check(request("HEAD", bin .. "/anything") == 200 and page() == "", "HEAD has no body")
check(net.func("HTTP", "HEADER", "content-type") == "application/json", "HEADER by name")
local lines = tonumber((net.func("HTTP", "HEADERS")))
check(lines > 3 and net.func("HTTP", "HEADERLINE", "0") == "Server: gunicorn", "HEADERLINE")
check(net.func("HTTP", "HEADERLINE", tostring(lines)) == "", "past the last header line")
for _, code in ipairs { 201, 404, 422, 503 } do
  check(request("GET", bin .. "/status/" .. code) == code, "status " .. code)
end
check(net.func("HTTP", "REASON") == "SERVICE UNAVAILABLE", "REASON")
check(request("GET", bin .. "/response-headers?ETag=abc&X-Two=1&X-Two=2") == 200, "response headers")
check(net.func("HTTP", "HEADER", "etag") == "abc" and net.func("HTTP", "HEADER", "x-two") == "1, 2", "joined headers")
net.command("HTTP", "HEADER", "ADD", "User-Agent: tester/1")
request("GET", bin .. "/user-agent")
check(has(page(), '"tester/1"'), "User-Agent replaced")
check(net.command("HTTP", "HEADER", "CLEAR") == 0, "HEADER CLEAR")
request("GET", bin .. "/headers")
check(not has(page(), "X-Api-Key"), "headers cleared")

-- A form with a field and a file; a body streamed from a file.
net.command("HTTP", "FORM", "FIELD", "title", "two words")
net.command("HTTP", "FORM", "FILE", "upload", www .. "/keep/a.json", "application/json")
check(request("POST", bin .. "/post") == 200, "form")
body = page()
check(has(body, '"title":"two words"') and has(body, '"upload":"{\\"n\\":1}\\n"'), "form: " .. body)
check(has(body, "multipart/form-data; boundary="), "form type")
net.command("HTTP", "BODY", "FILE", www .. "/keep/a.json")
request("PUT", bin .. "/put")
body = page()
check(has(body, '"data":"{\\"n\\":1}\\n"') and has(body, '"Content-Type":"application/octet-stream"'), "file body: " .. body)

-- Credentials: Basic from PROXY, a bearer token from HEADER.
net.command("HTTP", "PROXY", "", "user", "pw")
check(request("GET", bin .. "/basic-auth/user/pw") == 200, "basic credentials")
net.command("HTTP", "PROXY", "", "", "")
net.command("HTTP", "HEADER", "ADD", "Authorization: Bearer tok")
check(request("GET", bin .. "/bearer") == 200 and has(page(), '"token":"tok"'), "bearer token")

-- Redirects: 301, 302 and 303 turn a POST into a GET without body, 307 and
-- 308 repeat it; credentials follow to the same server only.
net.command("HTTP", "HEADER", "ADD", "X-Keep: yes")
for _, case in ipairs { { 301, "GET" }, { 302, "GET" }, { 303, "GET" }, { 307, "POST" }, { 308, "POST" } } do
  net.command("HTTP", "BODY", "TEXT", "payload")
  check(request("POST", bin .. "/redirect-to?status_code=" .. case[1] .. "&url=/anything") == 200, "redirect " .. case[1])
  body = page()
  check(has(body, '"method":"' .. case[2] .. '"') and has(body, '"data":"' .. (case[2] == "POST" and "payload" or "") .. '"'),
        case[1] .. ": " .. body)
end
request("GET", bin .. "/redirect-to?url=/headers")
check(has(page(), "Bearer tok"), "credentials kept on the same server")
request("GET", bin .. "/redirect-to?url=http://localhost:" .. arg[1] .. "/headers")
body = page()
check(not has(body, "Bearer") and has(body, '"X-Keep":"yes"') and has(body, '"Host":"localhost:'), "credentials left behind: " .. body)
check(request("GET", bin .. "/redirect/3") == 200, "three redirects")
net.command("HTTP", "HEADER", "CLEAR")

-- Ranges asked for by the caller.
net.command("HTTP", "HEADER", "ADD", "Range: bytes=10-19")
check(request("GET", bin .. "/range/100") == 206 and page() == "klmnopqrst", "range")
net.command("HTTP", "HEADER", "CLEAR")

-- Compressed answers, decoded; none asked for with COMPRESS off.
check(request("GET", bin .. "/gzip") == 200 and has(page(), '"gzipped":true'), "gzip")
check(request("GET", bin .. "/deflate") == 200 and has(page(), '"deflated":true'), "deflate")
request("GET", web .. "/gz/numbers.txt", out .. "/numbers.txt")
check(net.func("HTTP", "HEADER", "content-encoding") == "gzip", "nginx compressed")
check(sha(out .. "/numbers.txt") == sha(www .. "/gz/numbers.txt"), "decoded file")
net.command("HTTP", "COMPRESS")
request("GET", web .. "/gz/numbers.txt", out .. "/plain.txt")
check(net.func("HTTP", "HEADER", "content-encoding") == "" and sha(out .. "/plain.txt") == sha(www .. "/gz/numbers.txt"), "COMPRESS off")
net.command("HTTP", "COMPRESS", "on")

-- Cookies in a jar that curl reads, and a jar curl wrote.
local jar = out .. "/jar.txt"
check(net.command("HTTP", "COOKIES", jar) == 0, "COOKIES")
request("GET", bin .. "/cookies/set?first=1&second=2")
body = page()
check(has(body, '"first":"1"') and has(body, '"second":"2"'), "cookies sent back after the redirect")
request("GET", bin .. "/cookies/delete?first")
check(not has(page(), "first"), "cookie deleted")
check(has(shell("curl -s -b '" .. jar .. "' " .. bin .. "/cookies"), '"second":"2"'), "curl reads the jar")
shell("curl -s -o /dev/null -c '" .. out .. "/curl-jar.txt' '" .. bin .. "/cookies/set?fromcurl=3'")
net.command("HTTP", "COOKIES", out .. "/curl-jar.txt")
request("GET", bin .. "/cookies")
body = page()
check(has(body, '"fromcurl":"3"') and not has(body, "second"), "the jar curl wrote")
request("GET", bin .. "/response-headers?Set-Cookie=wide%3D1%3B%20Domain%3D.0.0.1")
request("GET", bin .. "/cookies")
check(not has(page(), "wide"), "a cookie for another domain is refused")
net.command("HTTP", "COOKIES", "")

-- nginx's DAV module: a file stored, read back, replaced and deleted, all
-- on one connection.
-- Its progress: the body, then the answer, one sum that never goes back.
net.command("HTTP", "BODY", "FILE", www .. "/mib3.bin")
local seen = {}
net.onprogress = function(operation, done, total) seen[#seen + 1] = { operation, done, total } end
check(request("PUT", web .. "/dav/sub/up.bin") == 201, "PUT creates")
net.onprogress = nil
local last, size = seen[#seen], io.open(www .. "/mib3.bin", "rb"):seek("end")
check(seen[1][1] == "REQUEST" and seen[1][2] == 0 and last[2] == last[3] and last[2] >= size,
      "PUT's progress ended at " .. last[2] .. " of " .. last[3])
for i = 2, #seen do check(seen[i][2] >= seen[i - 1][2], "PUT's progress went back") end
check(request("GET", web .. "/dav/sub/up.bin", out .. "/up.bin") == 200, "GET it back")
check(sha(out .. "/up.bin") == sha(www .. "/mib3.bin"), "stored file")
net.command("HTTP", "BODY", "TEXT", "short")
check(request("PUT", web .. "/dav/sub/up.bin") == 204, "PUT replaces")
check(request("DELETE", web .. "/dav/sub/up.bin") == 204 and request("GET", web .. "/dav/sub/up.bin") == 404, "DELETE")

-- Kept connections over TLS: twenty requests, one connection.
net.command("TLS", "CAFILE", ca)
for i = 1, 20 do
  check(request("GET", tls .. "/keep/a.json") == 200 and net.func("HTTP") == '{"n":1}', "HTTPS " .. i)
end
local connections = {}
for line in io.lines(log) do
  local conn, port, path = line:match('^(%d+) %d+ (%d+) "GET ([^ ]+)')
  if path == "/keep/a.json" and port == arg[3] then connections[conn] = true end
end
local count = 0
for _ in pairs(connections) do count = count + 1 end
check(count == 1, "HTTPS requests on " .. count .. " connections")
check(net.command("HTTP", "REQUEST", "GET", tls .. "/to-clear") == 206 and net.error():find("refused", 1, true),
      "no redirect from https to http: " .. net.error())

-- A download broken off and resumed: the rest of the same file is appended;
-- a file changed meanwhile is fetched whole again, never spliced.
local target = out .. "/resume.bin"
local function broken()
  os.remove(target)
  net.command("HTTP", "PROXY", "127.0.0.1:" .. cut, "", "")
  check(net.command("HTTP", "DOWNLOAD", web .. "/resume.bin", target, "on") == 206, "broken download")
  check(t.exists(target .. ".part") and not t.exists(target), "the part is kept")
  net.command("HTTP", "PROXY", "", "", "")
end
broken()
check(net.command("HTTP", "DOWNLOAD", web .. "/resume.bin", target, "on") == 0, "resumed download")
check(net.func("HTTP", "STATUS") == "206" and sha(target) == sha(www .. "/resume.bin"), "resumed file")
check(not t.exists(target .. ".part") and not t.exists(target .. ".part.info"), "nothing left beside it")
broken()
os.execute("head -c 4000000 /dev/urandom >'" .. www .. "/resume.bin'")
check(net.command("HTTP", "DOWNLOAD", web .. "/resume.bin", target, "on") == 0, "download of a changed file")
check(net.func("HTTP", "STATUS") == "200" and sha(target) == sha(www .. "/resume.bin"), "changed file whole")
print("webapi checks: ok")
