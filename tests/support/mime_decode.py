"""Decodes messages with Python's email package (policy=default) for the C++ tests.

    /usr/bin/python3 mime_decode.py FILE...

For each FILE (a complete message) it prints "key hexvalue" lines, then "end":
from_name, from_addr, to (one per address: "name\\x00address"), cc, subject, date,
message_id, content_type, charset, cte, body (the decoded body bytes), and defect (one per
defect the parser found in the message or its headers). A value is hex so any byte survives.
"""

import email
import sys
from email import policy


def _hex(value):
    if isinstance(value, str):
        value = value.encode("utf-8", "surrogateescape")
    return value.hex()


def _address(mailbox):
    return f"{mailbox.username}@{mailbox.domain}" if mailbox.domain else mailbox.username


def _out(key, value):
    sys.stdout.write(f"{key} {_hex(value)}\n")


def decode(path):
    with open(path, "rb") as f:
        message = email.message_from_bytes(f.read(), policy=policy.default)
    for defect in message.defects:
        _out("defect", type(defect).__name__)
    for name in message.keys():
        for defect in message[name].defects:
            _out("defect", f"{name}: {type(defect).__name__}")
    sender = message["From"]
    if sender is not None and sender.addresses:
        _out("from_name", sender.addresses[0].display_name)
        _out("from_addr", _address(sender.addresses[0]))
    for header in ("To", "Cc", "Bcc"):
        field = message[header]
        if field is not None:
            for address in field.addresses:
                _out(header.lower(), address.display_name + "\x00" + _address(address))
    for key, header in (("subject", "Subject"), ("date", "Date"), ("message_id", "Message-ID"),
                        ("cte", "Content-Transfer-Encoding")):
        if message[header] is not None:
            _out(key, str(message[header]))
    _out("content_type", message.get_content_type())
    _out("charset", message.get_content_charset() or "")
    _out("body", message.get_payload(decode=True) or b"")
    sys.stdout.write("end\n")


for path in sys.argv[1:]:
    decode(path)
