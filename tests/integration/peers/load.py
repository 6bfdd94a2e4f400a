"""Load against the relay server: CLIENTS concurrent connections, each
sending MESSAGES messages by id to its partner. Every message must arrive
exactly once and in order; after the server's CLOSE it must hold no more
sockets than before it listened."""
import asyncio
import sys
import time

PORT, LOG = int(sys.argv[1]), sys.argv[2]
CLIENTS = int(sys.argv[3]) if len(sys.argv) > 3 else 200
MESSAGES = int(sys.argv[4]) if len(sys.argv) > 4 else 500


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


async def connect():
    for _ in range(50):
        try:
            r, w = await asyncio.open_connection("127.0.0.1", PORT)
            break
        except OSError:
            await asyncio.sleep(0.05)
    line = (await r.readline()).decode()
    if not line.startswith("id:"):
        fail("expected an id line, got %r" % line)
    return r, w, line[3:].strip()


async def sender(w, partner, me):
    for seq in range(MESSAGES):
        w.write(b"ID|%s;from:%s:%d\r\n" % (partner.encode(), me.encode(), seq))
        if seq % 50 == 49:
            await w.drain()
    await w.drain()


async def receiver(r, partner):
    for seq in range(MESSAGES):
        line = (await r.readline()).decode()
        want = "from:%s:%d\r\n" % (partner, seq)
        if line != want:
            fail("expected %r, got %r" % (want, line))
    return MESSAGES


async def main():
    start = time.time()
    conns = await asyncio.gather(*(connect() for _ in range(CLIENTS)))
    ids = [c[2] for c in conns]
    if len(set(ids)) != CLIENTS:
        fail("ids are not distinct")
    tasks = []
    for i, (r, w, me) in enumerate(conns):
        partner = ids[i ^ 1]
        tasks.append(sender(w, partner, me))
        tasks.append(receiver(r, partner))
    results = await asyncio.wait_for(asyncio.gather(*tasks), timeout=90)
    got = sum(x for x in results if x)
    if got != CLIENTS * MESSAGES:
        fail("delivered %d of %d" % (got, CLIENTS * MESSAGES))
    elapsed = time.time() - start
    # Nothing more may arrive: every message exactly once.
    await asyncio.sleep(0.3)
    for r, w, me in conns:
        if r._buffer:
            fail("extra data for %s: %r" % (me, bytes(r._buffer[:80])))
    conns[0][1].write(b"SERVER|cmd:CLOSE\r\n")
    await conns[0][1].drain()
    for r, w, me in conns:
        if await asyncio.wait_for(r.read(), timeout=10) != b"":
            fail("data after CLOSE")
        w.close()
    print("load: %d clients x %d messages delivered in order in %.1fs" % (CLIENTS, MESSAGES, elapsed))


asyncio.run(main())

for _ in range(200):
    with open(LOG) as f:
        fds = [int(l.split("|")[1]) for l in f if l.startswith("FDS|")]
    if len(fds) == 2:
        break
    time.sleep(0.05)
if len(fds) != 2:
    fail("no descriptor count after CLOSE")
if fds[1] != fds[0]:
    fail("descriptors before listening %d, after CLOSE %d" % (fds[0], fds[1]))
print("load: no descriptor leaked (%d before, %d after CLOSE)" % (fds[0], fds[1]))
