-- Background jobs against nginx and vsftpd: every HTTP and FTP subcommand
-- that can run as a job leaves after JOB TAKE what the blocking command
-- leaves; an FTP job works where the script's logon is; net.job and
-- net.onjob see every job's records, one end each, the end last.
-- arg: http port, served folder, output folder, stored POST bodies folder,
--      ftp host:port, ftp served folder, user, password
local here = arg[0]:match("(.*/)")
package.path = here .. "?.lua;" .. package.path
local t = require("common")
local check, sha = t.check, t.sha
local port, www, out, bodies, ftp, served, user, password =
  arg[1], arg[2], arg[3], arg[4], arg[5], arg[6], arg[7], arg[8]
local base = "http://127.0.0.1:" .. port

-- A job to its end; its id and final status.
local function run(...)
  local id, code = net.job(...)
  check(id, "JOB START " .. table.concat({ ... }, " ") .. " gave " .. tostring(code))
  return id, (net.func("JOB", "WAIT", id, "60000"))
end

-- HTTP: the page, a download, an upload.
check(net.command("HTTP", "GET", base .. "/page.txt") == 0, "blocking GET")
local blocking = t.lines("HTTP")
local id, status = run("HTTP", "GET", base .. "/page.txt")
check(status:match("^DONE %d+ %d+ 0$"), "GET job: " .. status)
check(net.command("JOB", "TAKE", id) == 0, "TAKE of the GET job")
check(table.concat(t.lines("HTTP"), "\n") == table.concat(blocking, "\n"), "the page taken")

id, status = run("HTTP", "DOWNLOAD", base .. "/mib.bin", out .. "/mib.bin")
check(status == "DONE 1048576 1048576 0", "DOWNLOAD job: " .. status)
check(sha(out .. "/mib.bin") == sha(www .. "/mib.bin"), "downloaded by a job")
check(net.command("JOB", "TAKE", id) == 0, "TAKE of the DOWNLOAD job")

id, status = run("HTTP", "UPLOAD", www .. "/mib.bin", base .. "/upload")
check(status == "DONE 1048576 1048576 0", "UPLOAD job: " .. status)
check(net.command("JOB", "TAKE", id) == 0, "TAKE of the UPLOAD job")
local stored = t.listdir(bodies)
check(#stored == 1 and sha(bodies .. "/" .. stored[1]) == sha(www .. "/mib.bin"), "body stored")

-- A failure gives the blocking command's code and text.
check(net.command("HTTP", "GET", "http://127.0.0.1:1/") == 206, "blocking refused GET")
local refused = net.error()
id, status = run("HTTP", "GET", "http://127.0.0.1:1/")
check(status:match("^FAILED %d+ %-?%d+ 206$"), "refused job: " .. status)
check(net.func("JOB", "ERROR", id) == refused, "the job's error text")
check(net.command("JOB", "TAKE", id) == 206 and net.error() == refused, "TAKE of the failed job")

-- FTP: a job logs on by itself where the script's logon is, in its folder.
net.command("FTP", "USERNAME", user)
net.command("FTP", "PASSWORD", password)
check(net.command("FTP", "LOGON", ftp) == 0, "LOGON")
check(net.command("FTP", "CHANGEDIR", "folder") == 0, "CHANGEDIR")
check(net.command("FTP", "GETDIR", "") == 0, "blocking GETDIR")
local listing = {}
for e in function() local x = net.func("FTP", "DIRENTRY") return x ~= "" and x or nil end do
  listing[#listing + 1] = e
end
check(#listing >= 3, "the folder's listing")
id, status = run("FTP", "GETDIR", "")
check(status:match("^DONE"), "GETDIR job: " .. status)
check(net.func("FTP", "DIRENTRY") == "", "the job's listing is not there before TAKE")
check(net.command("JOB", "TAKE", id) == 0, "TAKE of the GETDIR job")
for k = 1, #listing do
  check(net.func("FTP", "DIRENTRY") == listing[k], "entry " .. k .. " of the listing taken")
end
check(net.func("FTP", "DIRENTRY") == "", "the listing taken ends where the blocking one did")

id, status = run("FTP", "DOWNLOAD", "a.txt", out .. "/a.txt")
check(status == "DONE 3 3 0", "FTP DOWNLOAD job: " .. status)
check(io.open(out .. "/a.txt"):read("a") == "abc", "a.txt from the folder")
check(net.command("JOB", "TAKE", id) == 0, "TAKE of the FTP DOWNLOAD job")
id, status = run("FTP", "UPLOAD", www .. "/mib.bin", "up.bin")
check(status == "DONE 1048576 1048576 0", "FTP UPLOAD job: " .. status)
check(sha(served .. "/folder/up.bin") == sha(www .. "/mib.bin"), "uploaded into the folder")
net.command("JOB", "CLOSE", id)

check(net.command("FTP", "DOWNLOAD", "missing.bin", out .. "/missing.bin") == 206, "blocking missing")
refused = net.error()
id, status = run("FTP", "DOWNLOAD", "missing.bin", out .. "/missing.bin")
check(status:match("^FAILED .* 206$"), "missing file job: " .. status)
check(net.func("JOB", "ERROR", id) == refused, "the server's refusal: " .. net.func("JOB", "ERROR", id))
check(not t.exists(out .. "/missing.bin"), "no file of a failed job")
-- Closed, it is forgotten with its record.
check(net.command("JOB", "CLOSE", id) == 0, "CLOSE of an ended job")
net.command("FTP", "LOGOFF")

-- net.job and net.onjob: three at once, at the pace of a slow server, every
-- record in order.
net.command("JOB", "PROGRESS", "1")
local records, ends, left = {}, {}, 3
net.onjob = function(job, state, done, total, code)
  check(not ends[job], "a record after the end of job " .. job)
  local last = records[job]
  check(not last or done >= last, "progress went back for job " .. job)
  records[job] = done
  if state ~= "RUNNING" then
    check(state == "DONE" and code == 0 and done == total,
      ("end of job %d: %s %d %d %d %s"):format(job, state, done, total, code, net.func("JOB", "ERROR", job)))
    ends[job] = true
    check(net.command("JOB", "TAKE", job) == 0, "TAKE " .. job)
    left = left - 1
    if left == 0 then net.stop() end
  end
end
for k = 1, 3 do
  check(net.job("HTTP", "DOWNLOAD", base .. "/slow/big.bin", out .. "/slow" .. k .. ".bin"), "net.job")
end
net.wait(60)
check(left == 0, left .. " jobs did not end")
for k = 1, 3 do check(sha(out .. "/slow" .. k .. ".bin") == sha(www .. "/big.bin"), "slow" .. k) end
print("jobs (web): ok")
