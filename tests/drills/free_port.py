#!/usr/bin/env python3
"""Prints a TCP port of 127.0.0.1 that is free now and lies below the kernel's range of
ephemeral ports. A service that is killed and started again on the same port needs one that no
outgoing connection can take meanwhile: a port from the ephemeral range (what binding port 0
gives) can become the local port of a client's connection while the service is down, and the
restart then fails with "address in use"."""
import random
import socket
import sys

low = 32768
try:
    with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
        low = int(ports.read().split()[0])
except (OSError, ValueError, IndexError):
    pass
top = max(2048, min(low, 32768))
for _ in range(500):
    port = random.randrange(max(1024, top - 12000), top)
    probe = socket.socket()
    try:
        probe.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        probe.close()
    print(port)
    sys.exit(0)
sys.exit("no free port below the ephemeral range")
