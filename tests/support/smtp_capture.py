"""An aiosmtpd handler for tests that keeps every message byte for byte.

    /usr/bin/python3 -m aiosmtpd -n -l 127.0.0.1:PORT -c smtp_capture.CaptureHandler FOLDER [no8bitmime]

For each accepted message it writes FOLDER/NNNNNN.env (the envelope and session, one
"key hexvalue" line each) and FOLDER/NNNNNN.eml (envelope.original_content, unchanged), both
complete before the server replies to the final dot. FOLDER/events.log gets one line per EHLO,
MAIL, RCPT and DATA command: "COMMAND PEERPORT", so a test can count connections and see
whether a command was ever sent. "no8bitmime" removes 8BITMIME from the EHLO reply. A
recipient whose address starts with "refused" gets a 550 reply.
"""

import os


def _hex(text):
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogateescape")
    return text.hex()


class CaptureHandler:
    def __init__(self, folder, *flags):
        self.folder = folder
        self.no8bitmime = "no8bitmime" in flags
        self.count = 0

    @classmethod
    def from_cli(cls, parser, *args):
        if not args:
            parser.error("CaptureHandler needs a folder")
        return cls(*args)

    def _event(self, session, command):
        with open(os.path.join(self.folder, "events.log"), "a") as log:
            log.write(f"{command} {session.peer[1]}\n")

    def _write(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path + ".part", "wb") as out:
            out.write(data)
        os.rename(path + ".part", path)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        self._event(session, "EHLO")
        if self.no8bitmime:
            responses = [r for r in responses if r[4:].upper() != "8BITMIME"]
        return responses

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self._event(session, "MAIL")
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        self._event(session, "RCPT")
        if address.startswith("refused"):
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self._event(session, "DATA")
        self.count += 1
        stem = f"{self.count:06d}"
        lines = [f"from {_hex(envelope.mail_from)}"]
        lines += [f"rcpt {_hex(r)}" for r in envelope.rcpt_tos]
        lines.append(f"peer {session.peer[1]}")
        # session.ssl is only set by STARTTLS; an smtps transport shows its ssl_object.
        tls = session.ssl is not None or server.transport.get_extra_info("ssl_object") is not None
        lines.append(f"tls {1 if tls else 0}")
        login = getattr(session.auth_data, "login", None)
        if login is not None:
            lines.append(f"auth {_hex(login)}")
        self._write(stem + ".env", ("\n".join(lines) + "\n").encode())
        self._write(stem + ".eml", envelope.original_content)
        return "250 2.0.0 Ok: queued as " + stem
