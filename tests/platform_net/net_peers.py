"""Real network peers for the platform's socket, TLS and SMTP tests, then
the test program itself.

    net_peers.py [--wine] -- PROGRAM [ARGUMENTS...]

Makes a throw-away certificate authority and server certificates
(tests/mailer_e2e/make_test_ca.sh, plus a wildcard and a common-name-only
certificate), starts on free loopback ports

  TLS echo servers   server (TLS 1.2 and 1.3), server12 (TLS 1.2 only),
                     other (another host's certificate), rogue
                     (self-signed), wild (*.quill.test), cn (no
                     subjectAltName, CN=cn.quill.test)
  plain              answers a client hello with "this is not TLS"
  silent             accepts and never says a word
  SMTP servers       smtp (aiosmtpd, no login), smtp_starttls and
                     smtp_implicit (with server.crt, AUTH PLAIN)

and runs PROGRAM with QM_TEST_NET_PEERS naming a file that lists them,
one a line: "name port" for the servers, "smtp... port store-folder" for
the SMTP servers and "ca path" for the authority's certificate. With
--wine PROGRAM is a Windows program run under wine, and paths in the file
are given as wine sees them (Z:\\...). Everything is stopped when PROGRAM
ends; its exit status is this script's.

An echo server sends back every byte it receives; once what it received
ends with "BYE\\r\\n" it sends the TLS closing alert and closes.
"""

import argparse
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
MAKE_CA = os.path.join(SOURCE, "tests", "mailer_e2e", "make_test_ca.sh")
SMTP_SINK = os.path.join(SOURCE, "tests", "mailer_e2e", "smtp_sink.py")
WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run.sh")
PYTHON = "/usr/bin/python3"  # the one with aiosmtpd


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(folder, algorithm):
    subprocess.run(["sh", MAKE_CA, folder, algorithm], check=True)
    # Signed by the same authority: a wildcard name, and a name only in the
    # subject's common name (no subjectAltName at all).
    for name, subject, extension in (
        ("wild", "/CN=wild", "subjectAltName=DNS:*.quill.test\n"),
        ("cn", "/CN=cn.quill.test", ""),
    ):
        key = os.path.join(folder, name + ".key")
        if algorithm == "rsa":
            openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key)
        else:
            openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-out", key)
        csr = os.path.join(folder, name + ".csr")
        openssl("req", "-new", "-key", key, "-subj", subject, "-out", csr)
        ext = os.path.join(folder, name + ".ext")
        with open(ext, "w") as f:
            f.write(extension + "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
        openssl("x509", "-req", "-in", csr, "-CA", os.path.join(folder, "ca.crt"),
                "-CAkey", os.path.join(folder, "ca.key"), "-CAcreateserial", "-days", "2",
                "-extfile", ext, "-out", os.path.join(folder, name + ".crt"))


def listener():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    return s


def serve(sock, handle, stop):
    sock.settimeout(0.2)
    while not stop.is_set():
        try:
            conn, _ = sock.accept()
        except socket.timeout:
            continue
        except OSError:
            return
        conn.settimeout(None)
        threading.Thread(target=handle, args=(conn, stop), daemon=True).start()


def tls_echo(context):
    def handle(conn, stop):
        try:
            tls = context.wrap_socket(conn, server_side=True)
        except (ssl.SSLError, OSError):
            conn.close()
            return
        received = b""
        try:
            while True:
                data = tls.recv(65536)
                if not data:
                    break
                tls.sendall(data)
                received = (received + data)[-5:]
                if received.endswith(b"BYE\r\n"):
                    tls.unwrap()
                    break
        except (ssl.SSLError, OSError):
            pass
        finally:
            tls.close()
    return handle


def not_tls(conn, stop):
    try:
        conn.recv(4096)
        conn.sendall(b"this is not TLS\r\n")
        while conn.recv(4096):
            pass
    except OSError:
        pass
    conn.close()


def silent(conn, stop):
    stop.wait()
    conn.close()


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def start_smtp(folder, name, extra):
    store = os.path.join(folder, name)
    os.makedirs(store)
    port_file = os.path.join(folder, name + ".port")
    log = open(os.path.join(folder, name + ".log"), "w")
    process = subprocess.Popen([PYTHON, SMTP_SINK, "--port-file", port_file, "--store", store, *extra],
                               stderr=log, stdout=log)
    deadline = time.monotonic() + 20
    while not os.path.exists(port_file):
        if process.poll() is not None or time.monotonic() > deadline:
            raise RuntimeError("smtp_sink.py did not start: see " + log.name)
        time.sleep(0.05)
    with open(port_file) as f:
        return process, int(f.read()), store


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = [c for c in args.command if c != "--"] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no program to run")
    path = windows_path if args.wine else (lambda p: p)

    folder = tempfile.mkdtemp(prefix="quillmark-net-")
    stop = threading.Event()
    servers = []
    smtp = []
    try:
        ca = os.path.join(folder, "ca")
        os.makedirs(ca)
        # Wine checks ECDSA signatures wrongly now and then (see
        # make_test_ca.sh); RSA ones it checks right.
        make_certificates(ca, "rsa" if args.wine else "ec")
        lines = ["ca " + path(os.path.join(ca, "ca.crt"))]

        def tls(name, certificate, maximum=None):
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.minimum_version = ssl.TLSVersion.TLSv1_2
            if maximum:
                context.maximum_version = maximum
            context.load_cert_chain(os.path.join(ca, certificate + ".crt"), os.path.join(ca, certificate + ".key"))
            return tls_echo(context)

        handlers = {
            "server": tls("server", "server"),
            "server12": tls("server12", "server", ssl.TLSVersion.TLSv1_2),
            "other": tls("other", "other"),
            "rogue": tls("rogue", "rogue"),
            "wild": tls("wild", "wild"),
            "cn": tls("cn", "cn"),
            "plain": not_tls,
            "silent": silent,
        }
        for name, handle in handlers.items():
            sock = listener()
            servers.append(sock)
            threading.Thread(target=serve, args=(sock, handle, stop), daemon=True).start()
            lines.append("%s %d" % (name, sock.getsockname()[1]))

        tls_options = ["--cert", os.path.join(ca, "server.crt"), "--key", os.path.join(ca, "server.key"),
                       "--auth", "plain", "--user", "mailuser", "--password", "s3cret"]
        for name, extra in (("smtp", ["--auth", "none"]),
                            ("smtp_starttls", ["--tls", "starttls", *tls_options]),
                            ("smtp_implicit", ["--tls", "implicit", *tls_options])):
            process, port, store = start_smtp(folder, name, extra)
            smtp.append(process)
            lines.append("%s %d %s" % (name, port, path(store)))

        peers = os.path.join(folder, "peers.txt")
        with open(peers, "w") as f:
            f.write("\n".join(lines) + "\n")
        environment = dict(os.environ, QM_TEST_NET_PEERS=path(peers))
        if args.wine:
            command = ["sh", WINE_RUN, "wine", *command]
        return subprocess.run(command, env=environment).returncode
    finally:
        stop.set()
        for sock in servers:
            sock.close()
        for process in smtp:
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
