-- The exported entry points as a host sees them.
local function check(cond, msg) if not cond then error(msg, 2) end end

check(net.func("VERSION") == "2.6", "VERSION")
check(net.command("nosuch") == 14, "unknown command")
check(net.status() == 14, "StatProc after a failed command")
local r, code = net.func("nosuch")
check(r == "" and code == 13, "unknown function")
check(net.command("html", "other") == 0, "HTML ignores unknown subcommands")
check(net.status() == 0, "StatProc after success")

-- Operands up to the size of the block pass; beyond it the host refuses them.
check(net.command("HTML", "OTHER", string.rep("x", 65535 - 11)) == 0, "long operand")
check(not pcall(net.command, "HTML", "OTHER", string.rep("x", 65536)), "operand past the block")
print("entry points: ok")
