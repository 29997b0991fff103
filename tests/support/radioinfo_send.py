#!/usr/bin/env python3
"""Sends a logging program's <RadioInfo> datagrams to 127.0.0.1, one per item.

    radioinfo_send.py PORT ITEM...

ITEM: NR:HZ:ACTIVE:TX, radio NR at HZ (Freq and TXFreq), ActiveRadioNr ACTIVE,
IsTransmitting TX (0/1); "big:" and such an item, the same padded past 8 KiB;
any other text is sent as it is.
"""
import socket
import sys


def radio_info(nr, hz, active, tx, pad=""):
    return ('<?xml version="1.0" encoding="utf-8"?>\r\n<RadioInfo>' + pad +
            f'\r\n  <app>N1MM</app>\r\n  <RadioNr>{nr}</RadioNr>\r\n  <Freq>{hz // 10}</Freq>'
            f'\r\n  <TXFreq>{hz // 10}</TXFreq>\r\n  <ActiveRadioNr>{active}</ActiveRadioNr>'
            f'\r\n  <IsTransmitting>{"True" if tx else "False"}</IsTransmitting>\r\n</RadioInfo>\r\n')


out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for item in sys.argv[2:]:
    pad = " " * 9000 if item.startswith("big:") else ""
    fields = item.removeprefix("big:").split(":")
    if len(fields) == 4 and all(f.isdigit() for f in fields):
        item = radio_info(*map(int, fields), pad)
    out.sendto(item.encode(), ("127.0.0.1", int(sys.argv[1])))
