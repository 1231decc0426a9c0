#!/usr/bin/env python3
"""Records the first packets of a real test run as they arrive: one line per packet with its
group number, its sender's counter and frequency, and the local arrival time in nanoseconds.

    veltrane-cli send --to 127.0.0.1 --port 23999 --duration 20 &
    record_run.py 23999 20 > recorded_run.txt
"""
import socket
import struct
import sys
import time

port, seconds = int(sys.argv[1]), float(sys.argv[2])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", port))
sock.settimeout(1.0)
end = time.monotonic() + seconds
print("# group sendCounter counterFrequency arrivalNs")
while time.monotonic() < end:
    try:
        data = sock.recv(65536)
    except socket.timeout:
        continue
    arrival = time.monotonic_ns()
    if len(data) < 32:
        continue
    index, _, group, counter, frequency = struct.unpack_from("<iiqqq", data)
    if index == 0:
        print(group, counter, frequency, arrival)
