"""Reference relay written with Python's asyncio, for the benchmark: the same
routes as the SOCKET server's relay mode (ALL, ID, ADDR, SERVER, CR LF
framed), and the same greeting the benchmark's server script sends ("id:N"
to each new connection).

    /usr/bin/python3 relay_asyncio.py PORT
"""
import asyncio
import sys

connections = {}  # id -> protocol, in accept order
next_id = [1]


class Relay(asyncio.Protocol):
    def connection_made(self, transport):
        self.transport = transport
        self.id = str(next_id[0])
        next_id[0] += 1
        self.addr = transport.get_extra_info("peername")[0]
        self.buffer = b""
        connections[self.id] = self
        transport.write(b"id:" + self.id.encode() + b"\r\n")

    def connection_lost(self, exc):
        connections.pop(self.id, None)

    def data_received(self, data):
        self.buffer += data
        *messages, self.buffer = self.buffer.split(b"\r\n")
        for message in messages:
            route, bar, payload = message.partition(b"|")
            if not bar:
                continue
            if route == b"ALL":
                out = payload + b"\r\n"
                for c in list(connections.values()):
                    c.transport.write(out)
            elif route == b"ID":
                target, _, text = payload.partition(b";")
                c = connections.get(target.decode(errors="replace"))
                if c:
                    c.transport.write(text + b"\r\n")
            elif route == b"ADDR":
                target, _, text = payload.partition(b";")
                target = target.decode(errors="replace")
                for c in list(connections.values()):
                    if c.addr == target:
                        c.transport.write(text + b"\r\n")
            # SERVER and unrouted messages are the server's own: nothing to relay.


async def main(port):
    loop = asyncio.get_running_loop()
    server = await loop.create_server(Relay, "127.0.0.1", port, backlog=128)
    print("listening", flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main(int(sys.argv[1])))
