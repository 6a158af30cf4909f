#!/usr/bin/env python3
"""Prints e-mail files (.eml) readably: the main headers, then the decoded body."""
import email
import email.policy
import sys

paths = [p for p in sys.argv[1:] if not p.endswith("*.eml")]
if not paths:
    print("No e-mail was produced.")
for number, path in enumerate(sorted(paths), 1):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    print(f"--- e-mail {number} of {len(paths)}: {path.rsplit('/', 1)[-1]}")
    for header in ("From", "To", "Subject", "Date"):
        print(f"{header}: {message[header]}")
    print()
    print(message.get_content().replace("\r\n", "\n").rstrip("\n"))
    print()
