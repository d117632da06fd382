#!/usr/bin/python3
"""Starts and stops scripted backends on request, for tests that cannot start
Linux programs themselves (a Windows test under wine, a 32-bit test under
qemu). Listens on 127.0.0.1 and writes "<port> <pid>" to the file named on
the command line; one JSON request per connection and line:

  {"cmd": "start", "args": [...], "script": {...}}  -> {"id": 1, "first": "PORT 40001", "port": 40001}
      ("program": "milky" starts tools/milky_backend/backend.mjs instead)
  {"cmd": "stop", "id": 1}                          -> {}
  {"cmd": "record", "id": 1}                        -> {"lines": ["{...}", ...]}
  {"cmd": "output", "id": 1}                        -> {"output": "..."}

It ends by itself after ten minutes without a request.
"""
import asyncio
import json
import os
import shutil
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
IDLE_LIMIT = 600


class Instance:
    def __init__(self, proc, workdir):
        self.proc = proc
        self.workdir = workdir
        self.output = ""


instances = {}
state = {"next": 1, "last": time.monotonic()}


async def pump(inst):
    while True:
        line = await inst.proc.stdout.readline()
        if not line:
            return
        inst.output += line.decode("utf-8", "replace")


async def start(req):
    workdir = tempfile.mkdtemp(prefix="hxbackend-")
    env = None
    if req.get("program") == "milky":
        node = shutil.which("node") or "node"
        args = [node, os.path.join(ROOT, "tools", "milky_backend", "backend.mjs")]
        env = dict(os.environ, NODE_PATH=os.path.join(ROOT, ".deps", "node_modules"))
    else:
        args = [sys.executable, os.path.join(HERE, "backend.py")]
    args += [str(a) for a in req.get("args", [])]
    args += ["--record", os.path.join(workdir, "record.jsonl")]
    if req.get("script") is not None:
        path = os.path.join(workdir, "script.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(req["script"], f, ensure_ascii=False)
        args += ["--script", path]
    proc = await asyncio.create_subprocess_exec(*args, env=env, stdin=asyncio.subprocess.DEVNULL,
                                                stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.STDOUT)
    inst = Instance(proc, workdir)
    ident = state["next"]
    state["next"] += 1
    instances[ident] = inst
    first = ""
    try:
        first = (await asyncio.wait_for(proc.stdout.readline(), 15)).decode().strip()
    except asyncio.TimeoutError:
        pass
    inst.output = first + "\n"
    asyncio.ensure_future(pump(inst))
    port = int(first.split()[1]) if first.startswith("PORT ") else 0
    return {"id": ident, "first": first, "port": port}


async def stop(req):
    inst = instances.pop(req.get("id"), None)
    if inst and inst.proc.returncode is None:
        inst.proc.kill()
        await inst.proc.wait()
    return {}


def record(req):
    inst = instances.get(req.get("id"))
    path = os.path.join(inst.workdir, "record.jsonl") if inst else ""
    lines = open(path, encoding="utf-8").read().splitlines() if path and os.path.exists(path) else []
    return {"lines": lines}


async def handle(reader, writer):
    state["last"] = time.monotonic()
    try:
        req = json.loads(await reader.readline())
        cmd = req.get("cmd")
        if cmd == "start":
            resp = await start(req)
        elif cmd == "stop":
            resp = await stop(req)
        elif cmd == "record":
            resp = record(req)
        elif cmd == "output":
            inst = instances.get(req.get("id"))
            resp = {"output": inst.output if inst else ""}
        else:
            resp = {"error": "unknown command"}
    except Exception as e:  # the test sees the reason
        resp = {"error": str(e)}
    writer.write((json.dumps(resp, ensure_ascii=False) + "\n").encode())
    await writer.drain()
    writer.close()


async def main(port_file):
    server = await asyncio.start_server(handle, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d %d\n" % (port, os.getpid()))
    os.replace(tmp, port_file)
    while time.monotonic() - state["last"] < IDLE_LIMIT:
        await asyncio.sleep(5)
    for ident in list(instances):
        await stop({"id": ident})


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
