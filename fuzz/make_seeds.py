#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>).

    make_seeds.py                 every target, into fuzz/corpus/<target>
    make_seeds.py TARGET [DIR]    one target, into DIR (default fuzz/corpus/TARGET)

wsocket: an input whose first byte is odd gets a valid handshake and the
access phrase put in front by the target; the rest of the input is what the
peer sends next. The committed corpora are these seeds merged with what the
fuzzers found (libFuzzer -merge=1), so rerunning this script only adds files.
"""
import os
import struct
import sys



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
wsocket = {
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


status = b"ST00" + b"0100" + b"0350" + b"0040" + b"0000" + b"0512" + b"0498" + b"00" + b"00" + b"0000;"
board = {
    "status": status,
    "status_trip": b"ST0C0100035000400000051204984100" + b"0000;",
    "status_short": b"ST00010;",
    "replies": b"VSM1.2.3;SA2;FM00014070000;CPFFFF;AB1;AN1;FN0050;MR0;GS0123456789;" + status,
    "eeprom": b"ER0000" + b"41" * 32 + b";ER0002" + b"0131" + b"00" * 30 + b";",
    "errors": b"ST?;ZZ;GS;ER0009;SA;FM;",
}


def tav_frame(t, kind, payload):
    n = len(payload)
    digits = bytes(0x30 + ((n >> (4 * i)) & 0xF) for i in range(4))
    return bytes([t]) + kind + digits + payload


params = bytes([0x00]) + b"00E1A0F0" + bytes([0x82]) + b"0" * 10 + bytes([0x48]) + b"00" + b"123" + b"01234" + b"10" + b"\0" * 6
tav = {
    "params": b"\x00" + tav_frame(1, b"1", params),
    "spectrum": b"\x01" + tav_frame(1, b"1", params) + tav_frame(0, b"0", bytes(range(256)) * 5),
    "mixed": b"\x01\xff\x20" + tav_frame(2, b"1", b"") + tav_frame(1, b"0", b"x") + tav_frame(1, b"1", params[:12]),
    "long_len": b"\x00\x01\x31\x3f\x3f\x3f\x3f" + b"A" * 100,
}

ft817 = {
    "freq": bytes([0x01, 0x40, 0x70, 0x00, 0x01]),
    "two": bytes([0x00, 0x70, 0x74, 0x00, 0x00, 0x14, 0x07, 0x40, 0x00, 0x02]),
    "bad_bcd": bytes([0xFA, 0x40, 0x70, 0x00, 0x01, 0x01, 0x02]),
    "tav_cat": b"FA00014074000;IF00014074000     +00000000002000000;" + b"x" * 210 + b";",
}

setup_text = (
    "EnableKeyb: 1\nEnableSpi: 0\nEnableTouch: 0\nDelayedTouch: 0\nEnableGPIO: 1\n"
    "EnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableLinear: 1\nEnableTime: 1\n"
    "WebSocket: 1\nPitch: 2500\nQuality: 100\nAudioIn: hw:1\nInChannels: 1\n"
    "AudioCompress: 0\nMultiplier: 2\nAudioOut: hw:1\nServer: 127.0.0.1\nTcpPort: 6666\n"
    "CatPort: /dev/ttyUSB0\nSerPort: /dev/ttyUSB1\nLinPort: /dev/ttyAMA0\nNumAntenna: 1\n"
    "EnablePwrPeak: 0\nTempMode: 0\nFreqSensIn: 0\nFreqPeriodTime: 10\nAttenuator: 0\n"
    "AttenuatorTune: 0\nSWRescAutoTune: 0\nViewTimeStr: 0\nViewTemp: 0\n"
    "MaxTemperature: 600\nMaxTemperature2: 800\nAutoTuneMaxCicli: 0\nPowerUnits: 0\n"
    "SaveScreenIdx: 0\nAutoTuneMode: 0\nEnableFFT: 0\nDivide: 0\nMaxTempAllowed: 60\n"
    "PSpar1: 1\nPSpar2: 1000\nIsteresi1: 1\nIsteresi2: 1\nPSpar3: 0\nPSpar4: 0\n"
    "OffsetPlot: 0\nCatSerialPort: /dev/ttyUSB1\nTUNEenabled: 0\nNumBanco: 1\nGMpar1: 2\n"
    "GMpar2: 100\nPeak_media: 2\nPeak_ValDec: 10\nPeak_TimeDec: 1\nPeak_Time: 3000\n"
    "MAXbank: 20\nBTN_longpress_Time: 5\nEnableDebug: 0\nEnable1600: 1\nEnableLOGTemp: 0\n"
    "AudioBuffers: 20\n").encode()
setup = {
    "default": setup_text,
    "crlf_odd": setup_text.replace(b"\n", b"\r\n").replace(b"TcpPort: 6666", b"TcpPort: 99999999999")
    .replace(b"Server: 127.0.0.1", b"Server: " + b"9" * 40),
    "sparse": b"Multiplier: 7\nDivide: -3\nAudioCompress: x\nNumBanco: 250\nEnableFFT:\n:\nPitch 12\n",
}

band_row = b"1800000 2000000 100 400 10 400 5 200 -0.007 10 20 10 1100 10 20 30 40 50 60 70 80 90 100 5\n"
band = {
    "rows": b"; fstart fstop ...\n" + band_row + band_row.replace(b"1800000 2000000", b"3500000 4000000")
    + b"54000000 0\n",
    "hex_tabs": b"0x1b7740\t0x1e8480\t1e2\t4e2\t1\t0\r\n;x\r\n",
    "short": b"1\n\n;\n",
    "nonfinite": b"14000000 14350000 100 1000 10 500 5 250 0 20 nan nan nan\n"
    b"21000000 21450000 100 1000 10 500 5 250 0 20 inf -3 1e9 10 20\n-1 0x1p3 nan(1)\n",
}

fan = {
    "rows": b"; temp percent\n30 0\n40.5 30\n50 60\n60 100\n",
    "odd": b"nan 5\ninf 1e30\n-1e40 -7\n30\t\t2.5\r\n",
}

filt = {
    "rows": b";Fstart(hz)\tFstop\tenabled\n1800000\t\t2000000\t\t1 \n3500000 4000000 1\n7000000 7300000 0\n"
    b"10000000 14350000 1\n18000000 21450000 1\n24000000 29700000 1\n50000000 54000000 1\n0 54000000 1\n",
    "odd": b"0x10 0777 257\n-1 4294967295 -1\n99999999999 1\n",
}

bank = {
    "default": b"!Gen\n160m 1800000 2000000 0 1 1 0 0.0\n80m 3500000 4000000 0 1 1 0 0.0\n"
    b"40m 7000000 7300000 1 2 0 0 0.0\n20m 14000000 14350000 1 1 0 0 0.0\n",
    "tav_crlf": b"; comment\r\n!Tav\r\n  \t40m 7000000 7300000 1 2 0 1 500.0\r\n\r\n!817\r\n",
    "odd": b"!xyz\nverylongbandname 0 0 9 9 9 9 1e40\n" + b"x 1 2 3 4 5 6 7\n" * 12,
    "nonfinite": b"20m 14000000 14350000 1 1 0 0 nan\n15m 21000000 21450000 1 300 0 0 -inf\n",
}

atu = {
    "entries": b"; index frequency valid mode L C\n3112 14020000 1 1 44 121\n3117 14070000 1 1 42 118\n"
    b"3130 14200000 1 2 37 102\n2105 7025000 1 3 99 214\n",
    "odd": b"-1 0 1 1 1 1\n5000 0 1 1 1 1\n12 x\n13 0 1 9 600 -4\n\r\n   \n" + b"7" * 600 + b"\n",
}

network = {
    "static": b"auto lo\niface lo inet loopback\n\nauto eth0\niface eth0 inet static\naddress 192.168.1.60\n"
    b"netmask 255.255.255.0\ngateway 192.168.1.1\ndns-nameservers 192.168.1.1\nnameserver 8.8.8.8\n",
    "odd": b"  address\t10.0.0.1/24  \r\ngateway \nnameserver 1.2.3.4.5\naddress 256.1.1.1\nnetmask " + b"1" * 40 + b"\n",
    "stanzas": b"auto eth1\niface eth1 inet static\n    address 10.9.9.9\n\nauto eth0\niface eth0 inet dhcp\n"
    b"\tdns-nameservers 1.1.1.1 8.8.8.8\nmapping eth2\n  script x\nsource-directory /etc/x\n",
}

utf8 = {
    "valid": "Hello, Grüße ΔΩ 日本 𝄞 €".encode(),
    "invalid": b"\x80\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xf8\x88\x80\x80\x80\xc2\xe2\x82\xf0\x9f\x98",
}

def radio_info(nr, freq, tx_freq, active, tx, extra=b""):
    return (b'<?xml version="1.0" encoding="utf-8"?>\r\n<RadioInfo>\r\n  <app>N1MM</app>\r\n'
            b"  <StationName>PC</StationName>\r\n  <RadioNr>%d</RadioNr>\r\n  <Freq>%d</Freq>\r\n"
            b"  <TXFreq>%d</TXFreq>\r\n  <Mode>USB</Mode>\r\n  <ActiveRadioNr>%d</ActiveRadioNr>\r\n"
            b"  <IsTransmitting>%s</IsTransmitting>%s\r\n</RadioInfo>\r\n"
            % (nr, freq, tx_freq, active, tx, extra))


radioinfo = {
    "n1mm": radio_info(1, 1407400, 1407400, 1, b"False"),
    "split_tx": radio_info(2, 707400, 718000, 2, b"True", b"<IsSplit>True</IsSplit>"),
    "minimal": b"<RadioInfo><RadioNr>1</RadioNr><Freq>350000</Freq></RadioInfo>\0",
    "attrs_empty": b'\xef\xbb\xbf<RadioInfo a="1"><Empty/><RadioNr>2</RadioNr><TXFreq>0</TXFreq>'
    b"<Freq>2807400</Freq></RadioInfo>",
    "dtd": b'<!DOCTYPE r [<!ENTITY f "1407400">]><RadioInfo><RadioNr>1</RadioNr><Freq>&f;</Freq></RadioInfo>',
    "nested": b"<RadioInfo><RadioNr>1</RadioNr><Freq><x>1</x></Freq></RadioInfo>",
    "range": radio_info(1, 7000000, 7000000, 1, b"False"),
}

corpora = {"wsocket": wsocket, "board": board, "tav": tav, "ft817": ft817, "setup": setup,
           "band": band, "fan": fan, "filter": filt, "bank": bank, "atu": atu,
           "network": network, "utf8": utf8, "radioinfo": radioinfo}

here = os.path.dirname(os.path.abspath(__file__))
names = [sys.argv[1]] if len(sys.argv) > 1 else list(corpora)
for name in names:
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "corpus", name)
    os.makedirs(out, exist_ok=True)
    for seed, data in corpora[name].items():
        with open(os.path.join(out, seed), "wb") as f:
            f.write(data)
    print(f"{len(corpora[name])} seeds in {out}")
