#!/usr/bin/python3
"""Prints what a test needs of a stored message, one item per line:
SUBJECT, FROM, TO, and for each attachment ATTACHMENT <name> <hex of bytes>."""
import sys
from email import policy
from email.parser import BytesParser

with open(sys.argv[1], "rb") as f:
    msg = BytesParser(policy=policy.default).parse(f)
print("SUBJECT", msg["subject"])
print("FROM", msg["from"])
print("TO", msg["to"])
for part in msg.walk():
    name = part.get_filename()
    if name:
        print("ATTACHMENT", name, part.get_payload(decode=True).hex())
