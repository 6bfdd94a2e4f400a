#!/usr/bin/env python3
"""Prints COUNT distinct TCP ports free on ADDRESS, one a line, for servers
that cannot listen on port 0 and tell which port they got:

    free_port.py [ADDRESS [COUNT]]        (127.0.0.1, 1)

The ports lie below the system's ephemeral range. A port the system hands out
for port 0 comes from that range, where every outgoing connection of every
process on the machine also takes its local port: between this choice and the
server's own bind, a connection of a test running beside this one could take
it. Below the range only other callers of this picker compete, and they pick
at random. A port counts as free when the wildcard address of its family can
be bound to it, which fails while any address uses it.
"""
import random
import socket
import sys

address = sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1"
count = int(sys.argv[2]) if len(sys.argv) > 2 else 1
family = socket.AF_INET6 if ":" in address else socket.AF_INET

try:
    with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
        ephemeral_low = int(f.read().split()[0])
except OSError:
    ephemeral_low = 32768
low, high = 10000, max(ephemeral_low - 1, 10999)


def free(port):
    for bind_address in (address, "::" if family == socket.AF_INET6 else "0.0.0.0"):
        with socket.socket(family, socket.SOCK_STREAM) as s:
            try:
                s.bind((bind_address, port))
            except OSError:
                return False
    return True


chosen = []
for _ in range(1000):
    if len(chosen) == count:
        break
    port = random.randint(low, high)
    if port not in chosen and free(port):
        chosen.append(port)
if len(chosen) < count:
    sys.exit(f"free_port.py: no {count} free ports between {low} and {high}")
print("\n".join(map(str, chosen)))
