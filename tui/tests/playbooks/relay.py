"""Joins standard input and output to a TCP connection: ssh's ProxyCommand into a container's
network namespace (started there with nsenter), where no address of the machine is needed."""
import os
import selectors
import socket
import sys

sock = socket.create_connection((sys.argv[1], int(sys.argv[2])))
sel = selectors.DefaultSelector()
sel.register(0, selectors.EVENT_READ)
sel.register(sock, selectors.EVENT_READ)
open_ends = 2
while open_ends:
    for key, _ in sel.select():
        if key.fileobj == 0:
            data = os.read(0, 65536)
            if not data:
                sock.shutdown(socket.SHUT_WR)
                sel.unregister(0)
                open_ends -= 1
            else:
                sock.sendall(data)
        else:
            data = sock.recv(65536)
            if not data:
                sys.exit(0)
            view = memoryview(data)
            while view:
                view = view[os.write(1, view):]
