"""A local SMTP server for the mailer's end-to-end tests.

Listens on a free loopback port, writes that port to --port-file once it
accepts connections, and stores every message it receives in --store as
msg-N.eml (the message as the client sent it, dot-stuffing undone) with
msg-N.json beside it (envelope sender, recipients, the login used). Each
file appears whole (written to a temporary name, then renamed). The verbs
of all commands received go to commands.log, one a line.

--auth none   no login; HELO and EHLO both work
--auth login  AUTH LOGIN, required; prompts "Username:" / "Password:", or
              aiosmtpd's own "User Name" / "Password" with --own-prompts
--auth plain  AUTH PLAIN (RFC 4616), required
--auth cram   AUTH CRAM-MD5, required

--tls starttls   offers STARTTLS with --cert/--key (not required)
--tls implicit   TLS from the first byte with --cert/--key
--silent         accepts connections and never says a word
"""

import argparse
import asyncio
import base64
import hmac
import json
import os
import signal
import ssl
import sys
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class PromptingSMTP(SMTP):
    """Asks for the login as "Username:" / "Password:" and writes the verb of
    every command it gets, one line each, to commands.log in the store."""

    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"
    command_log = None

    def _log(self, verb):
        with open(self.command_log, "a") as f:
            f.write(verb + "\n")

    async def smtp_HELO(self, arg):
        self._log("HELO")
        return await super().smtp_HELO(arg)

    async def smtp_EHLO(self, arg):
        self._log("EHLO")
        return await super().smtp_EHLO(arg)

    async def smtp_STARTTLS(self, arg):
        self._log("STARTTLS")
        return await super().smtp_STARTTLS(arg)

    async def smtp_AUTH(self, arg):
        self._log("AUTH")
        return await super().smtp_AUTH(arg)

    async def smtp_MAIL(self, arg):
        self._log("MAIL")
        return await super().smtp_MAIL(arg)

    async def smtp_RCPT(self, arg):
        self._log("RCPT")
        return await super().smtp_RCPT(arg)

    async def smtp_DATA(self, arg):
        self._log("DATA")
        return await super().smtp_DATA(arg)

    async def smtp_QUIT(self, arg):
        self._log("QUIT")
        return await super().smtp_QUIT(arg)


class Store:
    def __init__(self, folder, user, password):
        self.folder = folder
        # Command-line bytes as they were given (Latin-1 from the tests).
        self.user = os.fsencode(user)
        self.password = os.fsencode(password)
        self.count = 0

    def _put(self, name, data):
        tmp = os.path.join(self.folder, "." + name + ".tmp")
        with open(tmp, "wb") as f:
            f.write(data)
        os.rename(tmp, os.path.join(self.folder, name))

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = "msg-%d" % self.count
        login = session.login_data
        if isinstance(login, bytes):
            login = login.decode("latin-1")
        meta = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "login": login,
        }
        self._put(base + ".eml", envelope.original_content)
        self._put(base + ".json", json.dumps(meta).encode())
        return "250 OK stored"

    # The mechanism name comes from the method name: "__" becomes "-".
    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%d.%d@sink.test>" % (os.getpid(), time.time_ns())).encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes) or b" " not in answer:
            return AuthResult(success=False, handled=False)
        user, digest = answer.rsplit(b" ", 1)
        expected = hmac.new(self.password, challenge, "md5").hexdigest().encode()
        ok = user == self.user and hmac.compare_digest(digest, expected)
        if not ok:
            return AuthResult(success=False, handled=False)  # 535 is sent
        return AuthResult(success=True, auth_data=LoginPassword(user, b""))

    def check_login(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        if not ok:
            return AuthResult(success=False, handled=False)  # 535 is sent
        return AuthResult(success=True, auth_data=auth_data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--store", required=True)
    parser.add_argument("--auth", choices=["none", "login", "plain", "cram"], default="none")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--own-prompts", action="store_true")
    parser.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--silent", action="store_true")
    args = parser.parse_args()

    store = Store(args.store, args.user, args.password)
    PromptingSMTP.command_log = os.path.join(args.store, "commands.log")
    options = {"hostname": "sink.test", "data_size_limit": 0}
    if args.own_prompts:
        PromptingSMTP.AuthLoginUsernameChallenge = SMTP.AuthLoginUsernameChallenge
        PromptingSMTP.AuthLoginPasswordChallenge = SMTP.AuthLoginPasswordChallenge
    context = None
    if args.tls != "none":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    if args.tls == "starttls":
        options.update(tls_context=context, require_starttls=False)
    if args.auth != "none":
        keep = {"login": "LOGIN", "plain": "PLAIN", "cram": "CRAM-MD5"}[args.auth]
        others = [m for m in ("LOGIN", "PLAIN", "CRAM-MD5") if m != keep]
        options.update(auth_required=True, auth_require_tls=False,
                       auth_exclude_mechanism=others, authenticator=store.check_login)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    if args.silent:
        quiet = []  # the connections, kept open and never answered

        def factory():
            protocol = asyncio.Protocol()
            quiet.append(protocol)
            return protocol
    else:
        def factory():
            return PromptingSMTP(store, **options)
    server = loop.run_until_complete(loop.create_server(
        factory, "127.0.0.1", 0, ssl=context if args.tls == "implicit" else None))
    port = server.sockets[0].getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.rename(tmp, args.port_file)

    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    try:
        loop.run_forever()
    finally:
        server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
