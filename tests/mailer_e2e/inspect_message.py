"""Prints what Python's email package reads from a stored message, one
"key=JSON value" line each, for the end-to-end tests to compare."""

import email
import email.policy
import email.utils
import json
import sys


def out(key, value):
    print("%s=%s" % (key, json.dumps(value)))


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    subject, charset = email.header.decode_header(msg["Subject"])[0]
    if isinstance(subject, bytes):
        subject = subject.decode(charset or "latin-1")
    out("subject", subject)
    out("from", list(email.utils.parseaddr(msg["From"])))
    out("to", [list(a) for a in email.utils.getaddresses(msg.get_all("To", []))])
    out("mime_version", msg["MIME-Version"])
    out("content_type", msg.get_content_type())
    out("date_parses", email.utils.parsedate_tz(msg["Date"]) is not None)
    out("multipart", msg.is_multipart())
    if msg.is_multipart():
        parts = msg.get_payload()
        out("part_count", len(parts))
        for i, part in enumerate(parts):
            out("part%d_type" % i, part.get_content_type())
            out("part%d_encoding" % i, part["Content-Transfer-Encoding"])
            out("part%d_filename" % i, part.get_filename())
            payload = part.get_payload(decode=True) or b""
            if part.get_filename():
                out("part%d_hex" % i, payload.hex())
            else:
                out("part%d_text" % i, payload.decode("latin-1"))
    else:
        out("text", (msg.get_payload(decode=True) or b"").decode("latin-1"))
    out("defects", [type(d).__name__ for d in msg.defects])
    try:
        email.message_from_bytes(raw, policy=email.policy.strict)
        out("strict", True)
    except Exception as error:  # noqa: BLE001 - any complaint counts
        out("strict", "%s: %s" % (type(error).__name__, error))


if __name__ == "__main__":
    main(sys.argv[1])
