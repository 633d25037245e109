#!/usr/bin/python3
"""The client side of the serial benchmark through pyserial's RFC 2217 client.

Run by serial_bench, which drives it over stdin/stdout, one command a line:
  write PATH     load PATH, answer "loaded", wait for "go", write it, "done"
  read N PATH    answer "ready", read N bytes, answer "done", save to PATH, "saved"
  echo COUNT N   COUNT round trips of N bytes; answer "rtt" and the seconds
  quit
Usage: pyserial_client.py rfc2217://127.0.0.1:PORT?ign_set_control
"""
import os
import sys
import time

import serial


def answer(*words):
    sys.stdout.write(" ".join(str(w) for w in words) + "\n")
    sys.stdout.flush()


def main():
    port = serial.serial_for_url(sys.argv[1], baudrate=115200, timeout=1)
    answer("open")
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "write":
            with open(words[1], "rb") as f:
                data = f.read()
            answer("loaded")
            if sys.stdin.readline().strip() != "go":
                return 1
            port.write(data)
            port.flush()
            answer("done")
        elif words[0] == "read":
            wanted = int(words[1])
            answer("ready")
            chunks = []
            got = 0
            idle = 0
            while got < wanted and idle < 10:
                chunk = port.read(min(65536, wanted - got))
                idle = 0 if chunk else idle + 1
                chunks.append(chunk)
                got += len(chunk)
            answer("done")
            with open(words[2], "wb") as f:
                f.write(b"".join(chunks))
            answer("saved")
        elif words[0] == "echo":
            count, size = int(words[1]), int(words[2])
            times = []
            for _ in range(count):
                block = os.urandom(size)
                start = time.perf_counter()
                port.write(block)
                back = port.read(size)
                times.append(time.perf_counter() - start)
                if back != block:
                    answer("rtt", "mismatch")
                    break
            else:
                answer("rtt", *times)
        elif words[0] == "quit":
            break
    port.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
