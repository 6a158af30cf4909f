"""An aiosmtpd server for tests that keeps every message byte for byte.

    /usr/bin/python3 smtp_capture.py FOLDER [--tls starttls|starttls-required|implicit
        --cert CERT --key KEY] [--auth-user USER] [--no8bitmime]

It serves on the listening socket it inherits as descriptor 3 (the test bound it, so the port
the test reports is this server's and no one else's) and writes "ready" to standard output once
it serves. With --auth-user, AUTH (PLAIN, LOGIN) is required before mail, the password comes
from the environment variable CORVANE_SMTP_PASSWORD (never the command line, which any user may
read), and over STARTTLS it is only allowed after STARTTLS; --echo-auth refuses every AUTH with
a reply that quotes the client's response in base64. Runs until killed.

For each accepted message it writes FOLDER/NNNNNN.env (the envelope and session, one
"key hexvalue" line each) and FOLDER/NNNNNN.eml (envelope.original_content, unchanged), both
complete before the server replies to the final dot. FOLDER/events.log gets one line per EHLO,
MAIL, RCPT and DATA command: "COMMAND PEERPORT", so a test can count connections and see
whether a command was ever sent. --no8bitmime removes 8BITMIME from the EHLO reply. A
recipient whose address starts with "refused" gets a 550 reply.
"""

import argparse
import asyncio
import base64
import os
import socket
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def _hex(text):
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogateescape")
    return text.hex()


class CaptureHandler:
    def __init__(self, folder, no8bitmime=False):
        self.folder = folder
        self.no8bitmime = no8bitmime
        self.count = 0

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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--tls", choices=["none", "starttls", "starttls-required", "implicit"],
                        default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--auth-user")
    parser.add_argument("--no8bitmime", action="store_true")
    parser.add_argument("--echo-auth", action="store_true")
    args = parser.parse_args()

    context = None
    if args.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.check_hostname = False
        context.load_cert_chain(args.cert, args.key)

    smtp_options = dict(
        # A fixed name: the default looks the host's name up (DNS) on every connection.
        hostname="capture.test",
        tls_context=context if args.tls.startswith("starttls") else None,
        require_starttls=args.tls == "starttls-required",
    )
    if args.auth_user is not None:
        user = args.auth_user.encode()
        password = os.environ["CORVANE_SMTP_PASSWORD"].encode()

        def authenticator(server, session, envelope, mechanism, auth_data):
            if args.echo_auth:
                said = auth_data.password if mechanism == "LOGIN" else (
                    b"\0" + auth_data.login + b"\0" + auth_data.password)
                echo = "535 5.7.8 " + base64.b64encode(said).decode()
                return AuthResult(success=False, handled=False, message=echo)
            ok = (isinstance(auth_data, LoginPassword)
                  and auth_data.login == user and auth_data.password == password)
            # handled=False lets aiosmtpd send the 535 reply; True would leave the client waiting.
            return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

        # aiosmtpd counts only STARTTLS as TLS for auth_require_tls: over implicit TLS that
        # check is left off (the whole session is TLS anyway).
        smtp_options.update(authenticator=authenticator, auth_required=True,
                            auth_require_tls=args.tls != "implicit", enable_SMTPUTF8=True)

    loop = asyncio.new_event_loop()
    handler = CaptureHandler(args.folder, args.no8bitmime)
    listener = socket.socket(fileno=3)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, loop=loop, **smtp_options), sock=listener,
        ssl=context if args.tls == "implicit" else None))
    print("ready", flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
