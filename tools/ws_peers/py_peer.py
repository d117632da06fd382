#!/usr/bin/python3
"""WebSocket peer on Python's websockets library; see README.md."""
import asyncio
import sys

import websockets

MAX = 8 * 1024 * 1024
SIZES = [0, 125, 126, 65535, 65536, 4194303]


def arg(name, default=None):
    return sys.argv[sys.argv.index(name) + 1] if name in sys.argv else default


async def serve(token):
    async def check(path, headers):
        if token and headers.get("Authorization") != "Bearer " + token:
            return (403, [], b"")
        return None

    async def handler(ws, path=None):
        try:
            async for msg in ws:
                if msg == "!frag":
                    await ws.send(["ab", "cd", "ef"])
                elif isinstance(msg, str) and msg.startswith("!ping "):
                    data = msg[6:]
                    await asyncio.wait_for(await ws.ping(data), 10)
                    await ws.send("pong-ok " + data)
                elif msg == "!close":
                    await ws.close()
                    return
                else:
                    await ws.send(msg)
        except websockets.ConnectionClosed:
            pass

    async with websockets.serve(handler, "127.0.0.1", 0, max_size=MAX, process_request=check,
                                compression=None) as server:
        port = server.sockets[0].getsockname()[1]
        print("PORT", port, flush=True)
        await asyncio.Future()


async def client(url, token, expect_status):
    headers = {"Authorization": "Bearer " + token} if token else {}
    failed = False

    def report(step, ok, why=""):
        nonlocal failed
        failed |= not ok
        print(("OK " + step) if ok else ("FAIL %s: %s" % (step, why)), flush=True)

    if expect_status:
        try:
            async with websockets.connect(url, extra_headers=headers, compression=None):
                report("refused", False, "handshake accepted")
        except websockets.InvalidStatusCode as e:
            report("refused %d" % e.status_code, e.status_code == int(expect_status), str(e.status_code))
        return 1 if failed else 0

    async with websockets.connect(url, extra_headers=headers, max_size=MAX, compression=None) as ws:
        for size in SIZES:
            for kind in ("text", "binary"):
                # Binary payloads stay ASCII: the host answers in text frames only.
                payload = ("x" * size) if kind == "text" else bytes(97 + i % 26 for i in range(size))
                await ws.send(payload)
                if size == 0:
                    continue
                got = await asyncio.wait_for(ws.recv(), 20)
                as_bytes = lambda v: v.encode() if isinstance(v, str) else v
                report("%s %d" % (kind, size), as_bytes(got) == as_bytes(payload), "got %d bytes" % len(got))
        await ws.send(["fr", "ag", "ment"])
        got = await asyncio.wait_for(ws.recv(), 10)
        report("fragmented", got == "fragment", repr(got[:20]))
        waiter = await ws.ping(b"ping-payload")
        try:
            await asyncio.wait_for(waiter, 10)
            report("ping", True)
        except asyncio.TimeoutError:
            report("ping", False, "no matching pong")
        await ws.close()
        report("close", ws.close_code is not None, "no close code")
    return 1 if failed else 0


def main():
    mode = sys.argv[1]
    if mode == "server":
        asyncio.run(serve(arg("--token")))
        return 0
    return asyncio.run(client(sys.argv[2], arg("--token"), arg("--expect-status")))


if __name__ == "__main__":
    sys.exit(main())
