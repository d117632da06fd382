#!/usr/bin/python3
"""A scripted OneBot v11 backend for tests, benchmarks and the demo.

Built on Python's websockets library (not ours), so the host's transport is
always exercised by an independent peer. See README.md for the options and
the script format.
"""
import argparse
import asyncio
import json
import random
import sys
import time

import websockets
from websockets.legacy.client import WebSocketClientProtocol
from websockets.legacy.server import WebSocketServerProtocol

MAX = 8 * 1024 * 1024


class Recorder:
    """Appends every frame the backend received, one JSON object per line."""

    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8") if path else None

    def write(self, obj):
        if self.file:
            self.file.write(json.dumps(obj, ensure_ascii=False) + "\n")
            self.file.flush()


def recording(base, recorder):
    class Recording(base):
        async def pong(self, data=b""):
            recorder.write({"kind": "ping", "data": data.decode("utf-8", "replace") if isinstance(data, bytes) else data})
            await super().pong(data)
    return Recording


class Backend:
    def __init__(self, args, script):
        self.args = args
        self.script = script
        self.recorder = Recorder(args.record)
        self.self_id = int(args.self_id) if args.self_id.isdigit() else args.self_id

    def event(self, body):
        ev = {"time": int(time.time()), "self_id": self.self_id}
        ev.update(body)
        return ev

    def fill(self, value, n):
        """Expands {n} (a running number) and {rand} in string values of scripted events."""
        if isinstance(value, str):
            return value.replace("{n}", str(n)).replace("{rand}", str(random.randint(1, 10 ** 6)))
        if isinstance(value, dict):
            return {k: self.fill(v, n) for k, v in value.items()}
        if isinstance(value, list):
            return [self.fill(v, n) for v in value]
        return value

    async def reply(self, ws, request):
        action = request.get("action", "")
        echo = request.get("echo")
        rule = self.script.get("replies", {}).get(action) or self.script.get("replies", {}).get("*") or {"mode": "ok"}
        mode = rule.get("mode", "ok")
        if mode == "never":
            return
        if action == "get_login_info" and "data" not in rule:
            data = {"user_id": self.self_id if self.args.id_as == "number" else str(self.self_id),
                    "nickname": self.args.nickname}
        else:
            data = self.fill(rule.get("data"), 0)
        body = {"status": "ok", "retcode": 0, "data": data}
        if mode == "failed":
            body = {"status": "failed", "retcode": rule.get("retcode", 100), "data": None}
        if mode == "late":
            await asyncio.sleep(rule.get("delay_ms", 1000) / 1000)
        if mode == "wrong_echo":
            echo = (echo if isinstance(echo, int) else 0) + 1000000
        elif mode == "string_echo":
            echo = str(echo)
        body["echo"] = echo
        await ws.send(json.dumps(body, ensure_ascii=False))

    async def receive(self, ws):
        async for msg in ws:
            try:
                request = json.loads(msg)
            except ValueError:
                self.recorder.write({"kind": "text", "data": msg})
                continue
            self.recorder.write({"kind": "action", "action": request.get("action"),
                                 "params": request.get("params"), "echo": request.get("echo")})
            asyncio.ensure_future(self.reply(ws, request))

    async def heartbeats(self, ws):
        if self.args.heartbeat_ms <= 0:
            return
        while True:
            await asyncio.sleep(self.args.heartbeat_ms / 1000)
            await ws.send(json.dumps(self.event({"post_type": "meta_event", "meta_event_type": "heartbeat",
                                                 "status": {"online": True, "good": True},
                                                 "interval": self.args.heartbeat_ms})))

    async def scripted(self, ws):
        start = time.monotonic()
        tasks = []
        for item in self.script.get("events", []):
            tasks.append(asyncio.ensure_future(self.run_item(ws, item, start)))
        if tasks:
            await asyncio.gather(*tasks)

    async def run_item(self, ws, item, start):
        at = item.get("at_ms", 0) / 1000
        await asyncio.sleep(max(0, at - (time.monotonic() - start)))
        every = item.get("every_ms")
        count = item.get("count", 1 if not every else 0)
        n = 0
        while count == 0 or n < count:
            n += 1
            if "raw" in item:
                await ws.send(item["raw"])
            else:
                await ws.send(json.dumps(self.event(self.fill(item["event"], n)), ensure_ascii=False))
            if not every:
                if count and n >= count:
                    break
                continue
            await asyncio.sleep(every / 1000)

    async def session(self, ws):
        jobs = [self.receive(ws), self.heartbeats(ws), self.scripted(ws)]
        tasks = [asyncio.ensure_future(j) for j in jobs]
        try:
            await tasks[0]
        except websockets.ConnectionClosed:
            pass
        finally:
            for t in tasks[1:]:
                t.cancel()

    async def forward(self):
        token = self.args.token

        async def check(path, headers):
            if token and headers.get("Authorization") != "Bearer " + token and ("access_token=" + token) not in path:
                return (403, [], b"")
            return None

        async def handler(ws, path=None):
            if not self.args.no_lifecycle:
                await ws.send(json.dumps(self.event({"post_type": "meta_event", "meta_event_type": "lifecycle",
                                                     "sub_type": "connect"})))
            await self.session(ws)

        async with websockets.serve(handler, "127.0.0.1", self.args.port, max_size=MAX, process_request=check,
                                    compression=None, create_protocol=recording(WebSocketServerProtocol, self.recorder),
                                    ping_interval=None):
            print("PORT", self.args.bound_port(), flush=True)
            await asyncio.Future()

    async def reverse(self):
        headers = {"Authorization": "Bearer " + self.args.token} if self.args.token else {}
        try:
            async with websockets.connect(self.args.url, extra_headers=headers, max_size=MAX, compression=None,
                                          create_protocol=recording(WebSocketClientProtocol, self.recorder),
                                          ping_interval=None) as ws:
                print("CONNECTED", flush=True)
                await self.session(ws)
        except websockets.InvalidStatusCode as e:
            print("REFUSED", e.status_code, flush=True)
            return 1
        print("CLOSED", flush=True)
        return 0


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("mode", choices=["forward", "reverse"])
    p.add_argument("--port", type=int, default=0, help="forward: port to listen on (0 = any free one)")
    p.add_argument("--url", help="reverse: the host's ws:// address")
    p.add_argument("--token", default="", help="forward: token clients must present; reverse: token to send")
    p.add_argument("--self-id", default="10001", help="the bot QQ this backend serves")
    p.add_argument("--id-as", choices=["number", "string"], default="number", help="type of user_id in get_login_info")
    p.add_argument("--nickname", default="测试机器人", help="nickname in get_login_info (may be empty)")
    p.add_argument("--heartbeat-ms", type=int, default=0, help="send heartbeat meta events this often")
    p.add_argument("--no-lifecycle", action="store_true", help="forward: do not send lifecycle connect on open")
    p.add_argument("--script", help="JSON script: replies and events (see README.md)")
    p.add_argument("--record", help="append every received frame to this file as JSON lines")
    args = p.parse_args()
    script = json.load(open(args.script, encoding="utf-8")) if args.script else {}
    backend = Backend(args, script)
    if args.mode == "forward":
        holder = {}
        orig_serve = websockets.serve

        def serve(*a, **kw):
            server = orig_serve(*a, **kw)
            holder["server"] = server
            return server
        websockets.serve = serve
        args.bound_port = lambda: holder["server"].ws_server.sockets[0].getsockname()[1]
        asyncio.run(backend.forward())
        return 0
    return asyncio.run(backend.reverse())


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(0)
