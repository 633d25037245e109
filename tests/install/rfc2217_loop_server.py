#!/usr/bin/env python3
"""An RFC 2217 device server whose serial port has a loop-back plug.

pyserial's own server side (serial.rfc2217.PortManager) in front of its
loop:// port, on 127.0.0.1: another implementation than ours, so that the
installed library is checked against a peer it was not written with.
Prints the TCP port it listens on, serves one client and ends when that
client goes, or after 60 s without one.
"""
import socket
import threading

import serial
import serial.rfc2217


class Wire:
    """What PortManager writes its answers to."""

    def __init__(self, conn):
        self.conn = conn
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.conn.sendall(data)


def main():
    port = serial.serial_for_url("loop://", timeout=0.05)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(60)
    conn, _ = listener.accept()
    listener.close()
    wire = Wire(conn)
    manager = serial.rfc2217.PortManager(port, wire)
    done = threading.Event()

    def to_network():
        while not done.is_set():
            data = port.read(port.in_waiting or 1)
            if data:
                try:
                    wire.write(b"".join(manager.escape(data)))
                except OSError:
                    return

    threading.Thread(target=to_network, daemon=True).start()
    while True:
        data = conn.recv(4096)
        if not data:
            break
        port.write(b"".join(manager.filter(data)))
    done.set()
    conn.close()


if __name__ == "__main__":
    main()
