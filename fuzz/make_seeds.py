#!/usr/bin/env python3
"""Writes the seed corpus of the wsocket fuzz target (fuzz/corpus/wsocket).

An input whose first byte is odd gets a valid handshake and the access phrase
put in front by the target; the rest of the input is what the peer sends next.
"""
import os
import struct
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "wsocket")
os.makedirs(out, exist_ok=True)


def short(tag, body):
    return bytes([0x82, len(body) + 2]) + tag + body


def ext(tag, body):
    return bytes([0x82, 126]) + struct.pack(">H", len(body) + 2) + tag + body


def chunk(tag, t, o, data):
    return ext(tag, struct.pack(">II", t, o) + data.ljust(512, b"\0")[:512])


def text(payload, key=b"\x11\x22\x33\x44"):
    return bytes([0x81, len(payload)]) + key + bytes(c ^ key[i % 4] for i, c in enumerate(payload))


def request(key=b"dGhlIHNhbXBsZSBub25jZQ==", eol=b"\r\n"):
    lines = [b"GET /chat HTTP/1.1", b"Host: 10.0.0.1:6666", b"Upgrade: websocket",
             b"Connection: keep-alive, Upgrade", b"Sec-WebSocket-Key: " + key,
             b"Sec-WebSocket-Protocol: chat", b"Sec-WebSocket-Version: 13", b""]
    return eol.join(lines) + eol


screen = bytes(range(256)) * 4  # a raw 16x16 screen is 1024 bytes
seeds = {
    "handshake_crlf": b"\x00" + request(),
    "handshake_lf_phrase": b"\x00" + request(eol=b"\n") + text(b"tarabantulio"),
    "handshake_wrong_phrase": b"\x00" + request() + text(b"tarabantulix"),
    "handshake_long_key": b"\x00" + request(key=b"A" * 1000),
    "client_request_form": b"\x00" + b"GET /chat HTTP/1.1\r\nHost: a:1\r\nUpgrade: websocket\r\n"
    b"Connection: keep-alive, Upgrade\r\nSec-WebSocket-Key: AAAAAAAAAAAAAAAAAAAAPA==\r\n"
    b"Sec-WebSocket-Version: 13\r\n\r\n\r\n",
    "frames_all": b"\x01" + short(b"ST", b"VORNFT01") + short(b"ST", b"VORNFD12")
    + short(b"CA", b"FA;") + short(b"PA", b"0" * 40) + short(b"SC", b"TX;")
    + text(b"XY0001200034") + ext(b"SO", struct.pack(">I", 8) + b"\1" * 8)
    + chunk(b"SP", 854, 0, b"\xc8" * 512) + chunk(b"SP", 854, 512, b"\xc9" * 342)
    + short(b"ZZ", b"unknown"),
    "screen_raw": b"\x01" + chunk(b"FB", 1024, 0, screen[:512]) + chunk(b"FB", 1024, 512, screen[512:]),
    "screen_jpeg": b"\x01" + chunk(b"FB", 700, 0, b"\xff\xd8" + b"\0" * 510) + chunk(b"FB", 700, 512, b"\xff\xd9"),
    "chunks_bad": b"\x01" + chunk(b"FB", 1024, 1024, b"x") + chunk(b"FB", 5000, 0, b"y")
    + chunk(b"FB", 1024, 100, b"z") + chunk(b"FB", 1024, 0, b"a") + chunk(b"FB", 900, 512, b"b")
    + short(b"ST", b"VORNTU2"),
    "len16_max": b"\x01" + b"\x82\x7e\xff\xff" + b"A" * 200,
    "len32": b"\x01" + b"\x82\x7f\x00\x00\x10\x00\x41\x41",
    "tiny_binary": b"\x01" + b"\x82\x00\x00\x00" + short(b"ST", b"VORNFT00"),
    "one_byte_binary": b"\x01" + b"\x82\x01ST",
    "masked": b"\x01" + b"\x82\x85\x01\x02\x03\x04STabc",
    "ext_text": b"\x01" + b"\x81\x7e\x00\x84" + b"\0" * 4 + b"XY0000100002" + b"\0" * 116,
    "reboot": b"\x01" + short(b"ST", b"VORNRB"),
    "before_phrase": b"\x00" + request() + short(b"ST", b"VORNRB") + text(b"tarabantulio"),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {out}")
