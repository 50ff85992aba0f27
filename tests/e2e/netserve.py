"""Loopback servers for the transfer tests: recording HTTP servers in the
test process, tinyproxy as a real HTTP proxy and dante as a real SOCKS 4
proxy, both run in the foreground as children of the test process.

The origin servers listen on port 80, as most URLs name no port (the
recorder, on a port of its own, serves those that do); each session
takes a /24 of its own inside 127.0.0.0/8, so that sessions
on one machine do not meet, and every server, origin or proxy, has an
address of its own in it. Which address connected to an origin server
tells who made the request: the proxies connect out from addresses of
their own. Nothing here listens or connects outside 127.0.0.0/8.
"""
import ctypes
import errno
import http.server
import os
import shutil
import signal
import socket
import socketserver
import subprocess
import threading
import time
from pathlib import Path
from urllib.parse import urlsplit

BUILD = Path(__file__).resolve().parents[2] / "build"

# Host parts inside the session's /24.
ORIGIN_A, ORIGIN_B, NOBODY, RECORDER, SOCKS_RECORDER, HTTP_PROXY, HTTP_PROXY_OUT, SOCKS, SOCKS_OUT = \
    1, 2, 9, 20, 21, 30, 31, 40, 41


def wait_for_port(address, port, timeout=20, process=None):
    deadline = time.monotonic() + timeout
    while True:
        try:
            with socket.create_connection((address, port), timeout=1):
                return
        except OSError:
            pass
        if process is not None and process.poll() is not None:
            raise RuntimeError(f"{process.args[0]} ended with {process.returncode} before it listened")
        if time.monotonic() > deadline:
            raise TimeoutError(f"nothing listens on {address}:{port}")
        time.sleep(0.05)


def free_port(address):
    with socket.socket() as s:
        s.bind((address, 0))
        return s.getsockname()[1]


def session_network():
    """The first three bytes of a loopback /24 whose port 80 is free,
    picked from the process id so that parallel sessions differ."""
    pid = os.getpid()
    for attempt in range(64):
        net = f"127.{100 + (pid + attempt) % 100}.{(pid // 100 + attempt * 7) % 250 + 1}"
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind((f"{net}.{ORIGIN_A}", 80))
                return net
            except PermissionError:
                raise
            except OSError as e:
                if e.errno != errno.EADDRINUSE:
                    raise
    raise RuntimeError("no free loopback network for the transfer tests")


class Request:
    """One request as the server read it: the exact bytes of the request
    head, the body, and the address it came from."""

    def __init__(self, server, peer, head, body):
        self.server = server
        self.peer = peer
        self.head = head
        self.body = body
        lines = head.decode("latin-1").split("\r\n")
        self.line = lines[0]
        self.headers = {}
        for line in lines[1:]:
            if ":" in line:
                name, value = line.split(":", 1)
                self.headers[name.strip().lower()] = value.strip()
        self.target = self.line.split(" ")[1] if " " in self.line else ""
        self.path = urlsplit(self.target).path or self.target
        self.aborted = False  # the client went away before the whole reply
        self.sent = None      # body bytes sent, for replies that count them

    def __repr__(self):
        return f"<{self.server} from {self.peer}: {self.head!r} {self.body[:60]!r}>"


class _TeeReader:
    """The request stream, keeping a copy of everything read from it: the
    header parser of http.server strips the blanks a test wants to see."""

    def __init__(self, stream):
        self.stream = stream
        self.copy = bytearray()

    def readline(self, *args):
        data = self.stream.readline(*args)
        self.copy += data
        return data

    def read(self, *args):
        data = self.stream.read(*args)
        self.copy += data
        return data

    def __getattr__(self, name):
        return getattr(self.stream, name)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def setup(self):
        super().setup()
        self.rfile = _TeeReader(self.rfile)

    def log_message(self, *args):
        pass

    def _serve(self):
        head = bytes(self.rfile.copy)
        length = int(self.headers.get("Content-Length", "0").strip() or 0)
        body = self.rfile.read(length) if length > 0 else b""
        request = Request(self.server.name, self.client_address[0], head, body)
        self.server.owner.record(request)
        reply = self.server.owner.routes.get(request.path, not_found())
        self.close_connection = True
        try:
            reply(self, request)
        except (BrokenPipeError, ConnectionResetError):
            request.aborted = True

    do_GET = do_POST = do_HEAD = _serve


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class HttpServer:
    """A recording HTTP/1.0 server with a reply per path; unknown paths
    get 404. routes maps a path to a reply function (below)."""

    def __init__(self, name, address, port=80):
        self.name = name
        self.address = address
        self.routes = {}
        self.requests = []
        self._lock = threading.Lock()
        self._server = _Server((address, port), _Handler)
        self._server.name = name
        self._server.owner = self
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def record(self, request):
        with self._lock:
            self.requests.append(request)

    def clear(self):
        with self._lock:
            self.requests.clear()
        self.routes.clear()

    def close(self):
        self._server.shutdown()
        self._server.server_close()


# Replies ---------------------------------------------------------------------
def _head(status, length=None, extra=()):
    lines = [f"HTTP/1.0 {status}"]
    if length is not None:
        lines.append(f"Content-Length: {length}")
    lines += list(extra)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def response_head_size(length):
    """The size of the head that content() sends before a body of length."""
    return len(_head("200 OK", length))


def content(data):
    """200 with the bytes, or the file at a Path sent with sendfile."""
    def reply(handler, request):
        if isinstance(data, Path):
            handler.wfile.write(_head("200 OK", data.stat().st_size))
            with open(data, "rb") as f:
                handler.connection.sendfile(f)
        else:
            handler.wfile.write(_head("200 OK", len(data)) + data)
    return reply


def status(text, body=b"", extra=()):
    def reply(handler, request):
        handler.wfile.write(_head(text, len(body), extra) + body)
    return reply


def not_found():
    return status("404 Not Found", b"<html>no such file</html>\r\n")


def raw(data):
    """Exactly these bytes, then the end of the connection."""
    def reply(handler, request):
        handler.wfile.write(data)
    return reply


def early_close(announced, data):
    """Announces more than it sends, then closes."""
    def reply(handler, request):
        handler.wfile.write(_head("200 OK", announced) + data)
    return reply


def trickle(total, chunk, interval, limit=60.0):
    """Sends total bytes in small pieces, slowly; it gives up after limit
    seconds, so a client that never cancels still ends."""
    def reply(handler, request):
        handler.wfile.write(_head("200 OK", total))
        request.sent, started = 0, time.monotonic()
        while request.sent < total and time.monotonic() - started < limit:
            piece = bytes((request.sent + i) & 0xFF for i in range(min(chunk, total - request.sent)))
            handler.wfile.write(piece)
            request.sent += len(piece)
            time.sleep(interval)
    return reply


def silent(limit=90.0):
    """Reads the request and answers nothing, holding the connection open
    for up to limit seconds."""
    def reply(handler, request):
        time.sleep(limit)
    return reply


def keep_open(data, hold=100.0):
    """An HTTP/1.1 answer with its length and the whole body, after which
    the connection stays open for hold seconds, as a server that keeps
    connections alive does."""
    def reply(handler, request):
        handler.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(data) + data)
        handler.wfile.flush()
        time.sleep(hold)
    return reply


def basic_auth(expected, data):
    """200 with data only for the exact Authorization header."""
    def reply(handler, request):
        if request.headers.get("authorization") == expected:
            content(data)(handler, request)
        else:
            status("401 Unauthorized", b"", ['WWW-Authenticate: Basic realm="kest"'])(handler, request)
    return reply


# Proxies ----------------------------------------------------------------------
class SocksRecorder:
    """A SOCKS 4 proxy in the test process that keeps the exact bytes of
    each connection request. mode "relay" grants it and relays to the
    destination (loopback only); "close" hangs up once it has read it;
    "split" grants it in two pieces, a blank in the fields that a client
    ignores, before it relays; "reject" refuses it (0x5B) and holds the
    connection open for two seconds."""

    def __init__(self, address):
        self.address = address
        self.mode = "relay"
        self.requests = []
        self._listener = socket.socket()
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind((address, 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def clear(self):
        self.mode = "relay"
        self.requests.clear()

    def close(self):
        self._listener.close()

    def _accept(self):
        while True:
            try:
                client, _ = self._listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        with client:
            request = b""
            while len(request) < 9 or not request[8:].endswith(b"\0"):
                piece = client.recv(64)
                if not piece:
                    return
                request += piece
            self.requests.append(request)
            port, ip = int.from_bytes(request[2:4], "big"), socket.inet_ntoa(request[4:8])
            if self.mode == "close" or not ip.startswith("127."):
                return
            if self.mode == "reject":
                client.sendall(b"\0\x5b" + request[2:8])
                time.sleep(2)
                return
            try:
                upstream = socket.create_connection((ip, port), timeout=30)
            except OSError:
                client.sendall(b"\0\x5b" + request[2:8])
                return
            with upstream:
                if self.mode == "split":
                    client.sendall(b"\0\x5a")
                    time.sleep(0.3)
                    client.sendall(b"  \0\0\0\0")
                else:
                    client.sendall(b"\0\x5a" + request[2:8])
                back = threading.Thread(target=_pump, args=(upstream, client), daemon=True)
                back.start()
                _pump(client, upstream)
                back.join(30)


def _pump(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
        sink.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def _end_with_parent():
    """In the child before exec: a test run killed outright takes its
    proxies with it instead of leaving them listening. dante's workers
    end by themselves once their main process is gone."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class _Daemon:
    """A proxy program run in the foreground in a process group of its own,
    its configuration and log under build/netserve."""

    def __init__(self, name, argv, folder, address, port):
        self.name = name
        self.address = address
        self.port = port
        self.log = folder / f"{name}.log"
        self._log = open(self.log, "wb")
        self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=self._log,
                                        stderr=subprocess.STDOUT, start_new_session=True,
                                        preexec_fn=_end_with_parent)
        try:
            wait_for_port(address, port, process=self.process)
        except Exception:
            self.close()
            raise

    def log_text(self):
        return self.log.read_text(errors="replace")

    def close(self):
        if self.process.poll() is None:
            # Its own group: dante's worker processes go with it.
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self._log.close()


def tinyproxy(folder, address, outgoing):
    if not shutil.which("tinyproxy"):
        raise FileNotFoundError("tinyproxy is not installed (make deps)")
    port = free_port(address)
    conf = folder / "tinyproxy.conf"
    conf.write_text(f"Port {port}\nListen {address}\nBind {outgoing}\nTimeout 60\n"
                    "Allow 127.0.0.0/8\nMaxClients 50\nLogLevel Info\n")
    return _Daemon("tinyproxy", ["tinyproxy", "-d", "-c", str(conf)], folder, address, port)


def dante(folder, address, outgoing):
    program = shutil.which("danted") or shutil.which("sockd") or "/usr/sbin/danted"
    if not Path(program).exists():
        raise FileNotFoundError("dante's danted is not installed (make deps)")
    port = free_port(address)
    conf = folder / "danted.conf"
    # No user switching: a change of user would clear the signal that ends
    # it with the test process.
    conf.write_text(f"logoutput: stderr\ninternal: {address} port = {port}\nexternal: {outgoing}\n"
                    "clientmethod: none\nsocksmethod: none\n"
                    "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                    "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }\n"
                    "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n")
    return _Daemon("danted", [program, "-f", str(conf), "-N", "1"], folder, address, port)


class Network:
    """Everything a transfer session needs: two origin servers, recording
    stand-ins for an HTTP and a SOCKS proxy, tinyproxy and dante."""

    def __init__(self):
        self.net = session_network()
        self.folder = BUILD / "netserve"
        self.folder.mkdir(parents=True, exist_ok=True)
        self._closing = []
        try:
            self.origin_a = self._keep(HttpServer("origin-a", self.host(ORIGIN_A)))
            self.origin_b = self._keep(HttpServer("origin-b", self.host(ORIGIN_B)))
            # Any port: the stub reaches a proxy on the port its settings name.
            self.recorder = self._keep(HttpServer("recorder", self.host(RECORDER), 0))
            self.socks_recorder = self._keep(SocksRecorder(self.host(SOCKS_RECORDER)))
            self.tinyproxy = self._keep(tinyproxy(self.folder, self.host(HTTP_PROXY),
                                                  self.host(HTTP_PROXY_OUT)))
            self.socks = self._keep(dante(self.folder, self.host(SOCKS), self.host(SOCKS_OUT)))
        except Exception:
            self.close()
            raise

    def _keep(self, thing):
        self._closing.append(thing)
        return thing

    def host(self, part):
        return f"{self.net}.{part}"

    @property
    def servers(self):
        return (self.origin_a, self.origin_b, self.recorder)

    def clear(self):
        for s in self.servers:
            s.clear()
        self.socks_recorder.clear()

    def close(self):
        for thing in reversed(self._closing):
            thing.close()
