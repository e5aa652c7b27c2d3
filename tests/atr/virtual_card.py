#!/usr/bin/env python3
"""A virtual smart card for the vpcd reader driver.

Connects to the driver's TCP port on loopback and answers its length-prefixed requests:
the ATR request with the given ATR, power and reset notices with nothing, and any APDU
with 90 00. Runs until the driver closes the connection or the process is terminated
(terminating it takes the card out of the reader).
"""
import argparse
import socket
import struct
import sys
import time

POWER_OFF, POWER_ON, RESET, GET_ATR = 0, 1, 2, 4


def read_exactly(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def connect(port, timeout):
    deadline = time.monotonic() + timeout
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port))
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.1)


def serve(conn, atr):
    while True:
        header = read_exactly(conn, 2)
        if header is None:
            return
        (length,) = struct.unpack(">H", header)
        request = read_exactly(conn, length)
        if request is None:
            return
        if length == 1 and request[0] in (POWER_OFF, POWER_ON, RESET):
            continue
        answer = atr if length == 1 and request[0] == GET_ATR else b"\x90\x00"
        conn.sendall(struct.pack(">H", len(answer)) + answer)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--atr", required=True, help="ATR as hex digits")
    parser.add_argument("--connect-timeout", type=float, default=10.0)
    args = parser.parse_args()
    conn = connect(args.port, args.connect_timeout)
    with conn:
        serve(conn, bytes.fromhex(args.atr))
    return 0


if __name__ == "__main__":
    sys.exit(main())
