#!/usr/bin/python3
"""A local SMTP server for tests: stores every message it accepts.

usage: smtp_sink.py FOLDER
Listens on a free loopback port, prints "PORT <n>" on stdout once ready,
writes each message to FOLDER/msg-<n>.eml and runs until killed.
"""
import os
import socket
import sys
import time

from aiosmtpd.controller import Controller


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        tmp = os.path.join(self.folder, ".msg-%d.tmp" % self.count)
        with open(tmp, "wb") as f:
            f.write(envelope.original_content or envelope.content)
        os.rename(tmp, os.path.join(self.folder, "msg-%d.eml" % self.count))
        return "250 OK"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    folder = sys.argv[1]
    port = free_port()
    controller = Controller(Store(folder), hostname="127.0.0.1", port=port)
    controller.start()
    print("PORT %d" % port, flush=True)
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
