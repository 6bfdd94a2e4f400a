"""Clients against a relay server that has few descriptors (ulimit -n): it
must report the shortage, not retry at once for as long as clients wait
(that was an ERROR per try, a hundred thousand a second), and take the
waiting clients as descriptors come free."""
import select
import socket
import sys
import time

PORT, LOG, CLIENTS = int(sys.argv[1]), sys.argv[2], 40


def log_lines():
    with open(LOG) as f:
        return [line.rstrip("\n") for line in f]


def count(prefix):
    return sum(line.startswith(prefix) for line in log_lines())


def fail(msg):
    print("FAIL:", msg)
    print("\n".join(log_lines()[-20:]))
    sys.exit(1)


waiting = [socket.create_connection(("127.0.0.1", PORT), timeout=5) for _ in range(CLIENTS)]
end = time.time() + 30
while count("ERROR|") == 0:
    if time.time() > end:
        fail("the shortage was never reported")
    time.sleep(0.02)
# Clients the server took are greeted with their id; ending them frees
# descriptors for the ones still waiting.
done = 0
while done < CLIENTS:
    if time.time() > end:
        fail("%d of %d clients were taken" % (done, CLIENTS))
    greeted, _, _ = select.select(waiting, [], [], 0.1)
    for s in greeted:
        s.close()
        waiting.remove(s)
        done += 1
errors = [x for x in log_lines() if x.startswith("ERROR|")]
if any(x != "ERROR|Too many open files" for x in errors) or len(errors) > CLIENTS:
    fail("%d ERRORs: %r" % (len(errors), errors[:3]))
print("descriptors: %d clients taken, the shortage reported %d times" % (CLIENTS, len(errors)))
