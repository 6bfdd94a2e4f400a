#!/usr/bin/python3
"""Runs a command as a whole process and says what it cost.

  rusage.py OUT COMMAND...
Writes "wall-seconds cpu-seconds peak-kib" to OUT: the time from starting
the process to its end, its processor time (user and system, to the
microsecond, where /usr/bin/time gives hundredths) and its peak resident
memory. The command's output goes where this one's goes; its exit status is
this one's.
"""
import os
import sys
import time

out, command = sys.argv[1], sys.argv[2:]
start = time.perf_counter()
pid = os.posix_spawnp(command[0], command, os.environ)
_, status, usage = os.wait4(pid, 0)
wall = time.perf_counter() - start
with open(out, "w") as f:
    f.write(f"{wall:.6f} {usage.ru_utime + usage.ru_stime:.6f} {usage.ru_maxrss}\n")
sys.exit(os.waitstatus_to_exitcode(status))
