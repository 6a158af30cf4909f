"""An SMTP server for tests with AUTH (PLAIN, LOGIN), built on aiosmtpd's Controller.

    /usr/bin/python3 smtp_auth_server.py PORT FOLDER CERT KEY USER PASSWORD [smtps]

STARTTLS is offered and AUTH is only allowed after it (auth_require_tls); mail needs AUTH.
"smtps" makes it an implicit-TLS server instead (aiosmtpd counts only STARTTLS as TLS for
auth_require_tls, so that check is left off there: the whole session is TLS anyway). Messages are kept by smtp_capture. Runs
until SIGTERM.
"""

import signal
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

from smtp_capture import CaptureHandler


def main():
    port, folder, cert, key, user, password = sys.argv[1:7]
    implicit = "smtps" in sys.argv[7:]
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode() and auth_data.password == password.encode())
        # handled=False lets aiosmtpd send the 535 reply; True would leave the client waiting.
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    kwargs = dict(authenticator=authenticator, auth_required=True, auth_require_tls=not implicit)
    if implicit:
        controller = Controller(CaptureHandler(folder), hostname="127.0.0.1", port=int(port),
                                ssl_context=context, **kwargs)
    else:
        controller = Controller(CaptureHandler(folder), hostname="127.0.0.1", port=int(port),
                                tls_context=context, require_starttls=True, **kwargs)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    controller.start()
    print("ready", flush=True)
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
