#!/usr/bin/python3
"""Mail peers for the mailer's tests, all on 127.0.0.1 and a free port.

  mailpeer.py smtp DIR [--user U --password P] [--starttls CERT KEY] [--implicit-tls CERT KEY]
                       [--auth-required] [--auth-require-tls] [--refuse RCPT] [--stall-data SECONDS]
                       [--size-limit BYTES] [--no-auth]
      an SMTP server (aiosmtpd); each message goes to DIR/N.eml, its envelope to DIR/N.json, and
      every STARTTLS, AUTH, MAIL and DATA command it receives to a line of DIR/commands.log
  mailpeer.py silent   accepts connections and never says a word
  mailpeer.py pop3 DIR --user U --password P [--tls CERT KEY]
      a POP3 server (dovecot, in the foreground, its files in DIR); with --tls it offers STLS
  mailpeer.py inspect FILE
      prints what Python's e-mail parser makes of a message, as JSON

Servers print "READY <port>" once they listen, and stop when their standard input closes or on
SIGTERM.
"""
import argparse
import asyncio
import ctypes
import hashlib
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_end(stop):
    """Blocks until stdin closes or SIGTERM arrives, then runs stop()."""
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(1):
                pass
        except Exception:
            pass
        done.set()

    threading.Thread(target=watch_stdin, daemon=True).start()
    while not done.wait(0.2):
        pass
    stop()


def ready(port):
    print("READY %d" % port, flush=True)


def run_smtp(args):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import SMTP, AuthResult

    os.makedirs(args.dir, exist_ok=True)
    counter = [0]

    class Handler:
        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address in (args.refuse or []):
                return "550 5.1.1 <%s>: Recipient address rejected: no such user" % address
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if args.stall_data:
                await asyncio.sleep(args.stall_data)
            counter[0] += 1
            base = os.path.join(args.dir, str(counter[0]))
            with open(base + ".eml", "wb") as f:
                f.write(envelope.original_content)
            with open(base + ".json", "w") as f:
                json.dump({
                    "mail_from": envelope.mail_from,
                    "rcpt_tos": envelope.rcpt_tos,
                    "auth": session.auth_data if session.authenticated else None,
                    "tls": server.transport.get_extra_info("ssl_object") is not None,
                }, f)
            return "250 2.0.0 Message accepted for delivery"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (args.user is not None and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        return AuthResult(success=ok, handled=False,
                          auth_data={"mechanism": mechanism, "login": auth_data.login.decode()})

    kwargs = dict(hostname="127.0.0.1", port=free_port(), decode_data=False,
                  auth_required=args.auth_required, auth_require_tls=args.auth_require_tls,
                  ident="Parcelo test peer")
    if args.user is not None:
        kwargs["authenticator"] = authenticator
    if args.starttls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(args.starttls[0], args.starttls[1])
        kwargs["tls_context"] = ctx
    if args.implicit_tls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(args.implicit_tls[0], args.implicit_tls[1])
        kwargs["ssl_context"] = ctx
    if args.size_limit is not None:
        kwargs["data_size_limit"] = args.size_limit
    log_path = os.path.join(args.dir, "commands.log")

    def record(verb, arg):
        # The mechanism of AUTH only: what follows it is log-in data.
        shown = (arg or "").split(" ")[0] if verb == "AUTH" else (arg or "")
        with open(log_path, "a") as f:
            f.write(("%s %s" % (verb, shown)).strip() + "\n")

    class RecordingSMTP(SMTP):
        async def smtp_STARTTLS(self, arg):
            record("STARTTLS", arg)
            return await super().smtp_STARTTLS(arg)

        async def smtp_AUTH(self, arg):
            record("AUTH", arg)
            return await super().smtp_AUTH(arg)

        async def smtp_MAIL(self, arg):
            record("MAIL", arg)
            return await super().smtp_MAIL(arg)

        async def smtp_DATA(self, arg):
            record("DATA", arg)
            return await super().smtp_DATA(arg)

        async def push(self, status):
            if args.no_auth and status.startswith("250-AUTH"):
                return  # no log-in offered, not even after STARTTLS
            return await super().push(status)

    class RecordingController(Controller):
        def factory(self):
            return RecordingSMTP(self.handler, **self.SMTP_kwargs)

    controller = RecordingController(Handler(), **kwargs)
    controller.start()
    ready(controller.port)
    wait_for_end(controller.stop)


def run_silent(args):
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    held = []

    def accept():
        while True:
            try:
                conn, _ = server.accept()
                held.append(conn)
            except OSError:
                return

    threading.Thread(target=accept, daemon=True).start()
    ready(server.getsockname()[1])
    wait_for_end(server.close)


DOVECOT_CONF = """
base_dir = {dir}/run
state_dir = {dir}/state
instance_name = parcelo-test-{port}
protocols = pop3
listen = 127.0.0.1
{ssl}
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
default_internal_user = dovecot
default_login_user = dovenull
log_path = {dir}/dovecot.log
info_log_path = {dir}/dovecot.log
mail_location = maildir:{dir}/mail/%u
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {dir}/users
}}
userdb {{
  driver = static
  args = uid=nobody gid=nogroup home={dir}/mail/%u
}}
service pop3-login {{
  chroot =
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener pop3s {{
    port = 0
  }}
}}
service anvil {{
  chroot =
}}
service imap-login {{
  inet_listener imap {{
    port = 0
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
"""


def run_pop3(args):
    root = os.path.abspath(args.dir)
    for sub in ("", "run", "state", "mail", "mail/" + args.user):
        os.makedirs(os.path.join(root, sub), exist_ok=True)
        os.chmod(os.path.join(root, sub), 0o755)
    subprocess.run(["chown", "-R", "nobody:nogroup", os.path.join(root, "mail")], check=False)
    port = free_port()
    with open(os.path.join(root, "users"), "w") as f:
        f.write("%s:{PLAIN}%s::::%s/mail/%s\n" % (args.user, args.password, root, args.user))
    os.chmod(os.path.join(root, "users"), 0o644)
    conf = os.path.join(root, "dovecot.conf")
    with open(conf, "w") as f:
        ssl = "ssl = no"
        if args.tls:
            ssl = "ssl = yes\nssl_cert = <%s\nssl_key = <%s" % (os.path.abspath(args.tls[0]),
                                                               os.path.abspath(args.tls[1]))
        f.write(DOVECOT_CONF.format(dir=root, port=port, ssl=ssl))

    libc = ctypes.CDLL("libc.so.6", use_errno=True)

    def die_with_parent():
        libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG

    dovecot = subprocess.Popen(["dovecot", "-F", "-c", conf], stdin=subprocess.DEVNULL,
                               stdout=open(os.path.join(root, "dovecot.out"), "w"),
                               stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
    deadline = time.time() + 20
    while time.time() < deadline:
        if dovecot.poll() is not None:
            sys.stderr.write(open(os.path.join(root, "dovecot.out")).read())
            sys.exit("dovecot ended early")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                if s.recv(100).startswith(b"+OK"):
                    break
        except OSError:
            time.sleep(0.1)

    def stop():
        dovecot.terminate()
        try:
            dovecot.wait(10)
        except subprocess.TimeoutExpired:
            dovecot.kill()
            dovecot.wait()

    ready(port)
    wait_for_end(stop)


def run_inspect(args):
    import email
    from email import policy

    with open(args.file, "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=policy.default)
    parts = []
    for part in msg.walk():
        entry = {
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset(),
            "encoding": part.get("Content-Transfer-Encoding"),
            "filename": part.get_filename(),
            "disposition": part.get_content_disposition(),
            "multipart": part.is_multipart(),
        }
        if not part.is_multipart():
            payload = part.get_payload(decode=True) or b""
            entry["size"] = len(payload)
            entry["sha256"] = hashlib.sha256(payload).hexdigest()
            if part.get_content_maintype() == "text":
                # Line ends as a reader sees them.
                text = payload.decode(part.get_content_charset() or "ascii", "replace")
                entry["text"] = text.replace("\r\n", "\n")
        parts.append(entry)
    headers = [[k, str(v)] for k, v in msg.items()]
    lines = raw.split(b"\n")
    print(json.dumps({
        "headers": headers,
        "parts": parts,
        "defects": [str(d) for p in msg.walk() for d in p.defects],
        "bare_lf": any(not l.endswith(b"\r") for l in lines[:-1]),
        "longest_line": max(len(l.rstrip(b"\r")) for l in lines),
    }))


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    smtp = sub.add_parser("smtp")
    smtp.add_argument("dir")
    smtp.add_argument("--user")
    smtp.add_argument("--password")
    smtp.add_argument("--starttls", nargs=2)
    smtp.add_argument("--implicit-tls", nargs=2)
    smtp.add_argument("--auth-required", action="store_true")
    smtp.add_argument("--auth-require-tls", action="store_true")
    smtp.add_argument("--refuse", action="append")
    smtp.add_argument("--stall-data", type=float, default=0)
    smtp.add_argument("--size-limit", type=int)
    smtp.add_argument("--no-auth", action="store_true")
    sub.add_parser("silent")
    pop3 = sub.add_parser("pop3")
    pop3.add_argument("dir")
    pop3.add_argument("--user", required=True)
    pop3.add_argument("--password", required=True)
    pop3.add_argument("--tls", nargs=2)
    inspect = sub.add_parser("inspect")
    inspect.add_argument("file")
    args = parser.parse_args()
    {"smtp": run_smtp, "silent": run_silent, "pop3": run_pop3, "inspect": run_inspect}[args.command](args)


if __name__ == "__main__":
    main()
