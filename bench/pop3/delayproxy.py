#!/usr/bin/env python3
"""A TCP proxy on loopback that adds a fixed delay to every byte in each direction, so that the
client sees a round trip of RTT milliseconds (this kernel has no netem). Bandwidth is not limited.

    delayproxy.py LISTEN_PORT TARGET_PORT RTT_MS [LISTEN_PORT TARGET_PORT RTT_MS ...]

Prints "ready" once every listener is up; runs until killed.
"""
import asyncio
import sys
import time


async def pump(reader, writer, delay):
    """Copies reader to writer, each chunk released `delay` seconds after it arrived, in order."""
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
            await queue.put((time.monotonic() + delay, data))
            if not data:
                return

    async def release():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(receive(), release())
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()


async def serve(listen_port, target_port, rtt_ms):
    delay = rtt_ms / 2000.0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))

    return await asyncio.start_server(handle, "127.0.0.1", listen_port)


async def main(argv):
    if len(argv) < 3 or len(argv) % 3:
        sys.exit(__doc__)
    servers = []
    for i in range(0, len(argv), 3):
        servers.append(await serve(int(argv[i]), int(argv[i + 1]), float(argv[i + 2])))
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


if __name__ == "__main__":
    try:
        asyncio.run(main(sys.argv[1:]))
    except KeyboardInterrupt:
        pass
