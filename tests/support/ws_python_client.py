"""ws_python_client.py PORT PHRASE COMMAND: Python websockets against the unit;
prints the first status text after the phrase and the command."""
import asyncio, sys, websockets


async def main(port, phrase, command):
    async with websockets.connect(f"ws://127.0.0.1:{port}/", open_timeout=10) as ws:
        await ws.send(phrase)
        await ws.send(b"ST" + command.encode())
        while True:
            m = await asyncio.wait_for(ws.recv(), 10)
            if isinstance(m, bytes) and m[:2] == b"ST" and len(m) == 46:
                print("status", m[2:].decode("latin1"))
                return 0


sys.exit(asyncio.run(main(*sys.argv[1:4])))
