"""The exported transfer client end to end: transfer_client.exe loads the
stub as another module of an installation would and calls t1, with t2
behind its window, against servers and proxies on loopback.

The WinInet path is Wine's own WinInet; WINEDLLOVERRIDES=wininet=d takes
it away and leaves the socket path. Proxy settings are registry values in
the test prefix, removed after each test. Servers are reached by dotted
address only: no name is ever looked up."""
import base64
import hashlib
import os
import random
import re
from socket import inet_aton
import subprocess
import time

import pytest

import netserve
from netserve import content, early_close, keep_open, raw, silent, status, trickle
from winehost import BASE_OVERRIDES, STUB, WINE, wait_until

# Results of t1.
WININET_DONE = 0
SOCKET_DONE = 4
UNRESOLVED = -1
SERVER_REFUSED = -3   # not 2xx, or no answer examined
WRITE_FAILED = -4
SHORT_BODY = -5
STALLED = -6          # no socket event for a minute
EVENT_ERROR = -20
NO_EVENTS = -24       # WSAAsyncSelect failed, or the window is gone
BAD_SCHEME = -40
INPUT_REFUSED = -41   # too long, missing, or a host the client cannot reach
BUSY = -42            # t1 called while a call of it runs

SOCKET_ONLY = {"WINEDLLOVERRIDES": BASE_OVERRIDES + ";wininet=d"}
DIAG_FILE = "~KXHTTP1.TMP"
SIZES = [0, 1, 29259, 29260, 29261, 100000]
# Whole answers (head and body) at the edges of the receive block: a block
# is written out once fewer than 1,460 of its 30,720 bytes are free.
ANSWER_SIZES = [29260, 29261, 30720, 30721, 61440]


def data_of(size):
    return random.Random(size).randbytes(size)


def sha(data):
    return hashlib.sha256(data).hexdigest()


def basic(user, password):
    return "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()


def unescape(text):
    """transfer_client's report text back to its bytes."""
    return re.sub(r"\\(r|n|\\|x([0-9A-F]{2}))",
                  lambda m: {"r": "\r", "n": "\n", "\\": "\\"}.get(m.group(1)) or chr(int(m.group(2), 16)),
                  text)


class Outcome:
    def __init__(self, stdout):
        self.stdout = stdout
        self.calls = []
        self.teardown = None
        self.dialogs = None
        for line in stdout.splitlines():
            key, _, value = line.partition("=")
            if key == "call":
                self.calls.append({})
            elif key == "teardown":
                self.teardown = int(value)
            elif key == "dialogs":
                self.dialogs = int(value)
            elif self.calls and key:
                self.calls[-1][key] = unescape(value) if key == "report" else value

    def __getitem__(self, index):
        return self.calls[index]

    @property
    def status(self):
        (call,) = self.calls
        return int(call["status"])

    @property
    def report(self):
        (call,) = self.calls
        return call["report"]


def transfer(wine, *urls, socket=False, options=(), timeout=90):
    r = wine.tool("transfer_client.exe", wine.win(STUB), *urls, *[str(o) for o in options],
                  env=SOCKET_ONLY if socket else None, timeout=timeout)
    assert r.returncode == 0, r.stdout + r.stderr
    out = Outcome(r.stdout)
    assert len(out.calls) == len(urls), r.stdout
    return out


def statuses(out):
    return [int(c["status"]) for c in out.calls]


@pytest.fixture(scope="session")
def network():
    if os.geteuid() != 0:
        pytest.skip("the origin servers listen on port 80, which needs root")
    try:
        net = netserve.Network()
    except FileNotFoundError as e:
        pytest.skip(str(e))
    yield net
    net.close()


@pytest.fixture
def net(network):
    network.clear()
    yield network
    network.clear()


class Registry:
    """Proxy sources in the test prefix, written with one regedit run and
    all removed again at the end of the test."""

    CLEANUP = ("REGEDIT4\r\n\r\n[-HKEY_CLASSES_ROOT\\Mirelo]\r\n[-HKEY_CLASSES_ROOT\\NetscapeMarkup]\r\n"
               "[-HKEY_CURRENT_USER\\Software\\Netscape]\r\n"
               "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\r\n"
               '"ProxyEnable"=-\r\n"ProxyServer"=-\r\n"ProxyOverride"=-\r\n')

    def __init__(self, wine):
        self.wine = wine
        self.used = False

    def _import(self, text):
        folder = self.wine.drive_c / "t"
        folder.mkdir(exist_ok=True)
        path = folder / "proxy.reg"
        path.write_bytes(text.encode("latin-1"))
        r = subprocess.run([WINE, "regedit", "/S", self.wine.win(path)],
                           env=self.wine.env, capture_output=True, timeout=60)
        assert r.returncode == 0, r.stderr
        path.unlink()

    def set(self, keys):
        """keys: {key: {value name or "@": str or int}}; ints are DWORDs."""
        self.used = True
        lines = ["REGEDIT4", ""]
        for key, values in keys.items():
            lines.append(f"[{key}]")
            for name, data in values.items():
                left = "@" if name == "@" else '"' + name + '"'
                if isinstance(data, int):
                    lines.append(f"{left}=dword:{data:08x}")
                else:
                    lines.append(f'{left}="' + data.replace("\\", "\\\\").replace('"', '\\"') + '"')
            lines.append("")
        self._import("\r\n".join(lines) + "\r\n")

    def cleanup(self):
        if self.used:
            self._import(self.CLEANUP)


MIRELO = "HKEY_CLASSES_ROOT\\Mirelo"
IE = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
NETSCAPE = "HKEY_CURRENT_USER\\Software\\Netscape\\Netscape Navigator"


@pytest.fixture
def registry(wine):
    reg = Registry(wine)
    yield reg
    reg.cleanup()


def own_proxy(server):
    """The program's own keys naming value as its proxy."""
    return {MIRELO + "\\ProxyEnable": {"@": "1"}, MIRELO + "\\ProxyServer": {"@": server}}


def via(net, requests, kind):
    """Asserts that every request reached its server the given way."""
    peers = {"direct": "127.0.0.1", "tinyproxy": net.host(netserve.HTTP_PROXY_OUT),
             "socks": net.host(netserve.SOCKS_OUT)}
    assert requests, "the server saw no request"
    for r in requests:
        assert r.peer == peers[kind], r
        assert ("via" in r.headers) == (kind == "tinyproxy"), r


def plain_get(path):
    return f"GET /{path} HTTP/1.0\r\nAccept: */*\r\n\r\n".encode()


# Downloads ---------------------------------------------------------------------
PATHS = ["wininet", "socket", "tinyproxy", "socks"]


@pytest.mark.parametrize("path", PATHS)
def test_downloads_are_byte_exact(wine, net, registry, path):
    sizes = SIZES + [t - netserve.response_head_size(t) for t in ANSWER_SIZES]
    for size in sizes:
        net.origin_a.routes[f"/size-{size}"] = content(data_of(size))
    if path == "tinyproxy":
        registry.set(own_proxy(f"{net.tinyproxy.address}:{net.tinyproxy.port}"))
    elif path == "socks":
        registry.set(own_proxy(f"socks={net.socks.address}:{net.socks.port}"))
    folder = wine.scratch("download-" + path)
    # Every URL carries a fragment, the pin of a runtime installer, which
    # HTTP never sends.
    out = transfer(wine, *[f"http://{net.origin_a.address}/size-{s}#sha256={sha(data_of(s))}"
                           for s in sizes],
                   socket=path != "wininet", options=["--target", wine.win(folder) + "\\out-%d.bin"])
    done = WININET_DONE if path == "wininet" else SOCKET_DONE
    got = {}
    for i, size in enumerate(sizes):
        call = out[i]
        written = (folder / f"out-{i}.bin").read_bytes()
        got[size] = (int(call["status"]), call["counter"], int(call["forwarded"]) > 0, sha(written))
    assert got == {s: (done, "1000", path != "wininet", sha(data_of(s))) for s in sizes}
    via(net, net.origin_a.requests, "direct" if path in ("wininet", "socket") else path)
    assert [r.target for r in net.origin_a.requests] == [f"/size-{s}" for s in sizes]
    if path in ("socket", "socks"):
        # The request reaches the server byte for byte: no Host, no agent.
        assert [r.head for r in net.origin_a.requests] == [plain_get(f"size-{s}") for s in sizes]


def test_large_download_on_the_socket_path(wine, net):
    size = 64 * 1024 * 1024
    big = net.folder / "large.bin"
    if not big.exists() or big.stat().st_size != size:
        with open(big, "wb") as f:
            rng = random.Random(64)
            for _ in range(64):
                f.write(rng.randbytes(1024 * 1024))
    net.origin_a.routes["/large"] = content(big)
    folder = wine.scratch("large-download")
    target = folder / "large.bin"
    try:
        out = transfer(wine, f"http://{net.origin_a.address}/large", socket=True, timeout=240,
                       options=["--target", wine.win(target), "--expected", size, "--share", 1000000])
        assert (out.status, out[0]["counter"]) == (SOCKET_DONE, "1000000")
        assert target.stat().st_size == size
        with open(big, "rb") as a, open(target, "rb") as b:
            assert hashlib.file_digest(a, "sha256").digest() == hashlib.file_digest(b, "sha256").digest()
    finally:
        target.unlink(missing_ok=True)


@pytest.mark.parametrize("socket", [False, True], ids=["wininet", "socket"])
def test_credentials_in_the_url_become_basic_authorization(wine, net, socket):
    data = data_of(5000)
    # On the socket path the password runs to the last '@' before the host;
    # the WinInet path ends a credential at every '@'.
    password = "s3cr@t" if socket else "s3cret"
    net.origin_a.routes["/secret"] = netserve.basic_auth(basic("kest", password), data)
    target = wine.scratch("credentials") / "secret.bin"
    out = transfer(wine, f"http://kest:{password}@{net.origin_a.address}/secret", socket=socket,
                   options=["--target", wine.win(target)])
    assert (out.status, out[0]["forwarded"] != "0") == ((SOCKET_DONE, True) if socket else (WININET_DONE, False))
    assert target.read_bytes() == data
    (request,) = net.origin_a.requests
    assert request.line.split(" ")[1] == "/secret"
    assert request.headers["authorization"] == basic("kest", password)
    if socket:
        assert [r.head for r in net.origin_a.requests] == [
            b"GET /secret HTTP/1.0\r\nAuthorization: Basic a2VzdDpzM2NyQHQ=\r\nAccept: */*\r\n\r\n"]


def test_schemes_of_the_socket_path(wine, net):
    net.origin_a.routes["/f"] = content(b"any scheme")
    host = net.origin_a.address
    folder = wine.scratch("schemes")
    # An ftp URL is fetched with the same HTTP request; only the lower-case
    # "ftp://" is taken, while "http://" is taken in any case.
    out = transfer(wine, f"ftp://{host}/f", f"FTP://{host}/f", f"gopher://{host}/f", f"HTTP://{host}/f",
                   socket=True, options=["--target", wine.win(folder) + "\\out-%d.bin"])
    assert statuses(out) == [SOCKET_DONE, BAD_SCHEME, BAD_SCHEME, SOCKET_DONE]
    assert [r.head for r in net.origin_a.requests] == [plain_get("f")] * 2
    assert (folder / "out-3.bin").read_bytes() == b"any scheme"


@pytest.mark.parametrize("path", PATHS)
def test_explicit_port_on_every_path(wine, net, registry, path):
    server = net.recorder  # listens on a port of its own
    server.routes["/ported"] = content(b"from a port of its own")
    if path == "tinyproxy":
        registry.set(own_proxy(f"{net.tinyproxy.address}:{net.tinyproxy.port}"))
    elif path == "socks":
        registry.set(own_proxy(f"socks={net.socks.address}:{net.socks.port}"))
    target = wine.scratch("port-" + path) / "out.bin"
    out = transfer(wine, f"http://{server.address}:{server.port}/ported", socket=path != "wininet",
                   options=["--target", wine.win(target)])
    assert out.status == (WININET_DONE if path == "wininet" else SOCKET_DONE)
    assert target.read_bytes() == b"from a port of its own"
    via(net, server.requests, "direct" if path in ("wininet", "socket") else path)


@pytest.mark.parametrize("socket", [False, True], ids=["wininet", "socket"])
def test_ipv6_literal_is_refused(wine, net, socket):
    target = wine.scratch("ipv6") / "out.bin"
    out = transfer(wine, "http://[::1]/f", "http://u:p@[::1]:80/f", socket=socket,
                   options=["--target", wine.win(target)])
    assert statuses(out) == [INPUT_REFUSED, INPUT_REFUSED]


# Form posts --------------------------------------------------------------------
FORMS = [
    ("a=1\\r\\nb=x y\\r\\nmore", "a=1&b=x+y%0D%0Amore"),
    ("k=v=w\\r\\n", "k=v%3Dw"),
    ("a=1\\r\\nname = value", "a=1&name+=+value"),
    ("a=x\\r\\n  cont", "a=x%0D%0A++cont"),
    ("q=caf\\xE9&x;\\n", "q=caf%E9%26x%3B%0A"),
]


@pytest.mark.parametrize("form, encoded", FORMS)
def test_form_post_sends_the_exact_request(wine, net, form, encoded):
    net.origin_a.routes["/form"] = status("200 OK", b"thanks")
    # PostMode never goes through WinInet, even where it is present.
    out = transfer(wine, f"http://{net.origin_a.address}/form", options=["--post", form])
    assert (out.status, out[0]["counter"]) == (SOCKET_DONE, "1000")
    assert int(out[0]["forwarded"]) > 0
    (request,) = net.origin_a.requests
    assert request.head == ("POST /form HTTP/1.0\r\n"
                            "Content-type: application/x-www-form-urlencoded\r\n"
                            f"Content-Length: {len(encoded):5d}\r\n\r\n").encode()
    assert request.body == encoded.encode()


def test_post_through_an_http_proxy_names_the_host_and_the_proxy_credentials(wine, net, registry):
    net.recorder.routes["/form"] = status("200 OK", b"thanks")
    keys = own_proxy(f"{net.recorder.address}:{net.recorder.port}")
    keys[MIRELO + "\\ProxyUsername"] = {"@": "pu"}
    keys[MIRELO + "\\ProxyPassword"] = {"@": "pp"}
    registry.set(keys)
    out = transfer(wine, f"http://u:p@{net.origin_a.address}/form#top", options=["--post", "a=1"])
    assert out.status == SOCKET_DONE
    # Exactly this reaches the proxy: no fragment.
    (request,) = net.recorder.requests
    assert request.head == (f"POST http://{net.origin_a.address}/form HTTP/1.0\r\n"
                            f"Authorization: {basic('u', 'p')}\r\n"
                            f"Proxy-Authorization: {basic('pu', 'pp')}\r\n"
                            "Content-type: application/x-www-form-urlencoded\r\n"
                            "Content-Length:     3\r\n\r\n").encode()
    assert request.body == b"a=1"
    assert net.origin_a.requests == []


def test_inputs_too_long_are_refused_before_any_connection(wine, net):
    host = net.origin_a.address
    longest = f"http://{host}/" + "p" * (255 - len(f"http://{host}/"))
    net.origin_a.routes["/" + longest.rsplit("/", 1)[1]] = content(b"fits")
    folder = wine.scratch("too-long")
    target = ["--target", wine.win(folder) + "\\out-%d.bin"]
    for socket in (False, True):
        out = transfer(wine, longest, longest + "q", socket=socket, options=target)
        assert statuses(out) == [WININET_DONE if not socket else SOCKET_DONE, INPUT_REFUSED]
        assert (folder / "out-0.bin").read_bytes() == b"fits"
        assert len(net.origin_a.requests) == 1
        net.origin_a.requests.clear()
    # A form whose encoding outgrows the request buffer.
    out = transfer(wine, f"http://{host}/form", options=["--post", "a=" + "!" * 11000])
    assert out.status == INPUT_REFUSED
    assert net.origin_a.requests == []
    # A URL that would end the request line and add a header of its own.
    out = transfer(wine, f"http://{host}/x\r\nX-Injected: 1", socket=True)
    assert out.status == INPUT_REFUSED
    assert net.origin_a.requests == []


# Proxies -----------------------------------------------------------------------
def test_bypass_list_sends_its_hosts_direct_and_the_rest_through_the_proxy(wine, net, registry):
    # The proxy's credentials go to the proxy only, never to a bypassed host.
    registry.set({IE: {"ProxyEnable": 1,
                       "ProxyServer": f"ftp=127.0.0.1:21;http={net.tinyproxy.address}:{net.tinyproxy.port}",
                       "ProxyOverride": f"*.kest.test;{net.origin_a.address}"},
                  MIRELO + "\\ProxyUsername": {"@": "pu"}, MIRELO + "\\ProxyPassword": {"@": "pp"}})
    net.origin_a.routes["/f"] = content(b"from a")
    net.origin_b.routes["/f"] = content(b"from b")
    folder = wine.scratch("bypass")
    out = transfer(wine, f"http://{net.origin_a.address}/f", f"http://{net.origin_b.address}/f",
                   socket=True, options=["--target", wine.win(folder) + "\\out-%d.bin"])
    assert statuses(out) == [SOCKET_DONE, SOCKET_DONE]
    assert (folder / "out-0.bin").read_bytes() == b"from a"
    assert (folder / "out-1.bin").read_bytes() == b"from b"
    via(net, net.origin_a.requests, "direct")
    assert [r.head for r in net.origin_a.requests] == [plain_get("f")]
    via(net, net.origin_b.requests, "tinyproxy")


def test_socks_request_is_exact_and_proxy_credentials_stay_behind(wine, net, registry):
    socks = net.socks_recorder
    keys = own_proxy(f"socks={socks.address}:{socks.port}")
    keys[MIRELO + "\\ProxyUsername"] = {"@": "pu"}
    keys[MIRELO + "\\ProxyPassword"] = {"@": "pp"}
    registry.set(keys)
    net.origin_a.routes["/f"] = content(b"socks")
    target = wine.scratch("socks-exact") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/f", socket=True,
                   options=["--target", wine.win(target)])
    assert out.status == SOCKET_DONE
    assert target.read_bytes() == b"socks"
    # Version 4, CONNECT, port 80, the host's address, an empty user id.
    assert socks.requests == [b"\x04\x01\x00\x50" + inet_aton(net.origin_a.address) + b"\x00"]
    # Origin form, and no proxy credentials: they are for an HTTP proxy,
    # and through SOCKS they would reach the server.
    assert [r.head for r in net.origin_a.requests] == [plain_get("f")]


def test_socks_proxy_hanging_up_during_the_handshake(wine, net, registry):
    socks = net.socks_recorder
    socks.mode = "close"
    registry.set(own_proxy(f"socks={socks.address}:{socks.port}"))
    target = wine.scratch("socks-close") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/f", socket=True,
                   options=["--target", wine.win(target)])
    assert (out.status, len(socks.requests)) == (UNRESOLVED, 1)
    assert net.origin_a.requests == []


@pytest.mark.parametrize("mode, expected", [("split", SOCKET_DONE), ("reject", UNRESOLVED)])
def test_socks_reply_is_read_whole_and_checked(wine, net, registry, mode, expected):
    socks = net.socks_recorder
    socks.mode = mode
    registry.set(own_proxy(f"socks={socks.address}:{socks.port}"))
    net.origin_a.routes["/f"] = content(b"after the reply")
    target = wine.scratch("socks-" + mode) / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/f", socket=True,
                   options=["--target", wine.win(target)])
    assert out.status == expected
    if mode == "split":
        assert target.read_bytes() == b"after the reply"
    else:
        assert net.origin_a.requests == []


def test_socks_flag_does_not_outlive_a_teardown(wine, net, registry):
    socks, tp = net.socks, net.tinyproxy
    registry.set(own_proxy(f"socks={socks.address}:{socks.port}"))
    # Between the calls the program's own keys go and Netscape names an
    # HTTP proxy, which the discovery after the tear-down finds.
    later = wine.drive_c / "t" / "later.reg"
    later.write_bytes(("REGEDIT4\r\n\r\n[-" + MIRELO + "]\r\n\r\n[" + NETSCAPE + "\\Proxy Information]\r\n"
                       f'"Proxy Type"=dword:00000001\r\n"HTTP_Proxy"="{tp.address}"\r\n'
                       f'"HTTP_ProxyPort"=dword:{tp.port:08x}\r\n').encode())
    net.origin_a.routes["/f"] = content(b"either way")
    url = f"http://{net.origin_a.address}/f"
    folder = wine.scratch("socks-flag")
    out = transfer(wine, url, "-", url, socket=True,
                   options=["--target", wine.win(folder) + "\\out-%d.bin", "--between", wine.win(later)])
    assert [int(c["status"]) for c in out.calls] == [SOCKET_DONE, 0, SOCKET_DONE]
    first, second = net.origin_a.requests
    via(net, [first], "socks")
    via(net, [second], "tinyproxy")


def proxy_lines(host, ignore, port, kind):
    return f"ProxyServer={host}\r\nProxyIgnore={ignore}\r\nProxyPort={port}\r\nProxyType={kind}\r\n"


SOURCES = ["own-http", "own-socks", "own-off", "netscape-http", "netscape-socks", "netscape-ini",
           "internet-explorer", "explorer-switch-as-text", "netscape-host-as-number"]


@pytest.mark.parametrize("source", SOURCES)
def test_proxy_source_is_reported_and_used(wine, net, registry, source):
    tp, socks = net.tinyproxy, net.socks
    ie = {IE: {"ProxyEnable": 1, "ProxyServer": f"{tp.address}:{tp.port}",
               "ProxyOverride": "<local>, *.kest.test:8080"}}
    if source == "own-http":
        registry.set(own_proxy(f"http://{tp.address}:{tp.port}"))
        expected, kind = proxy_lines(tp.address, "", tp.port, "CERN"), "tinyproxy"
    elif source == "own-socks":
        registry.set(own_proxy(f"https=127.0.0.1:1;socks={socks.address}:{socks.port}"))
        expected, kind = proxy_lines(socks.address, "", socks.port, "SOCKS"), "socks"
    elif source == "own-off":
        # Present and not '1': no proxy, whatever Internet Explorer says.
        registry.set({**ie, MIRELO + "\\ProxyEnable": {"@": "0"}})
        expected, kind = proxy_lines("", "", 80, "CERN"), "direct"
    elif source == "netscape-http":
        registry.set({NETSCAPE + "\\Proxy Information": {
            "Proxy Type": 1, "HTTP_Proxy": tp.address, "HTTP_ProxyPort": 0x10000 + tp.port,
            "No_Proxy": "*.kest.test, other:8080"}, **ie})
        expected, kind = proxy_lines(tp.address, ";;kest.test;;other;;;;;", tp.port, "CERN"), "tinyproxy"
    elif source == "netscape-socks":
        registry.set({NETSCAPE + "\\Proxy Information": {"Proxy Type": 1, "HTTP_Proxy": ""},
                      NETSCAPE + "\\Services": {"SOCKS_Server": socks.address,
                                                "SOCKS_ServerPort": socks.port}})
        expected, kind = proxy_lines(socks.address, "", socks.port, "SOCKS"), "socks"
    elif source == "netscape-ini":
        folder = wine.drive_c / "kestns"
        folder.mkdir(exist_ok=True)
        (folder / "NETSCAPE.INI").write_text(
            f"[Proxy Information]\r\nProxy Type=1\r\nHTTP_Proxy={tp.address}\r\n"
            f"Http_ProxyPort={tp.port}\r\nNo_Proxy=*.kest.test\r\n")
        registry.set({"HKEY_CLASSES_ROOT\\NetscapeMarkup\\shell\\open\\command":
                      {"@": "C:\\kestns\\netscape.exe"}})
        expected, kind = proxy_lines(tp.address, ";;kest.test", tp.port, "CERN"), "tinyproxy"
    elif source == "explorer-switch-as-text":
        # A number stored as text is no number: the switch reads as off.
        registry.set({IE: {**ie[IE], "ProxyEnable": "0"}})
        expected, kind = proxy_lines("", "", 80, "CERN"), "direct"
    elif source == "netscape-host-as-number":
        # A host stored as a number is no host: the next source decides.
        registry.set({NETSCAPE + "\\Proxy Information": {"Proxy Type": 1, "HTTP_Proxy": 0x31}, **ie})
        expected, kind = proxy_lines(tp.address, "<local>;;;;kest.test;;;;;", tp.port, "CERN"), "tinyproxy"
    else:
        registry.set(ie)
        expected, kind = proxy_lines(tp.address, "<local>;;;;kest.test;;;;;", tp.port, "CERN"), "tinyproxy"
    data = data_of(4321)
    net.origin_b.routes["/diag"] = content(data)
    out = transfer(wine, f"http://{net.origin_b.address}/diag", socket=True, options=["--diagnostics"])
    assert out.status == SOCKET_DONE
    assert re.fullmatch(re.escape(expected + "WinInet=Not Found\r\n") + r"WinSockError=-?\d+\r\n",
                        out.report), out.report
    assert (wine.drive_c / DIAG_FILE).read_bytes() == data
    via(net, net.origin_b.requests, kind)


def test_diagnostics_after_a_wininet_download_hold_only_the_proxy_lines(wine, net):
    net.origin_a.routes["/diag"] = content(b"fine")
    out = transfer(wine, f"http://{net.origin_a.address}/diag", options=["--diagnostics"])
    assert (out.status, out[0]["forwarded"]) == (WININET_DONE, "0")
    assert out.report == proxy_lines("", "", 80, "CERN")
    assert (wine.drive_c / DIAG_FILE).read_bytes() == b"fine"


# Failures ----------------------------------------------------------------------
def test_not_found_falls_back_to_sockets_and_stays_there(wine, net):
    data = data_of(777)
    net.origin_a.routes["/good"] = content(data)
    folder = wine.scratch("not-found")
    base = f"http://{net.origin_a.address}"
    out = transfer(wine, f"{base}/missing", f"{base}/good",
                   options=["--target", wine.win(folder) + "\\out-%d.bin"])
    assert statuses(out) == [SERVER_REFUSED, SOCKET_DONE]
    assert out[0]["report"] == "\r\n\r\n404 Not Found"
    assert out[0]["counter"] == "0"
    # The file holds the server's whole answer from the status code on.
    assert (folder / "out-0.bin").read_bytes().startswith(b"404 Not Found\r\n")
    assert (folder / "out-1.bin").read_bytes() == data
    # WinInet asked once, with its own Host line; the socket path took the
    # failed call over and, WinInet having failed, the next one too.
    heads = [r.head for r in net.origin_a.requests]
    assert len(heads) == 3 and b"\r\nHost: " in heads[0], heads
    assert heads[1:] == [plain_get("missing"), plain_get("good")]
    assert int(out[1]["forwarded"]) > 0


def test_not_found_in_diagnostics_mode(wine, net):
    out = transfer(wine, f"http://{net.origin_a.address}/missing", socket=True, options=["--diagnostics"])
    assert out.status == SERVER_REFUSED
    assert re.fullmatch(re.escape(proxy_lines("", "", 80, "CERN") + "WinInet=Not Found\r\n"
                                  "ServerError=404 Not Found\r\n") + r"WinSockError=-?\d+\r\n",
                        out.report), out.report


@pytest.mark.parametrize("reply, text", [
    (status("300 Multiple Choices", b"<a href=/one>one</a>"), "300 Multiple Choices"),
    (status("302 Found", b"", ["Location: gopher://127.0.0.1/x"]), "302 Found"),
], ids=["unfollowed", "across-schemes"])
def test_wininet_counts_only_2xx_as_success(wine, net, reply, text):
    net.origin_a.routes["/moved"] = reply
    target = wine.scratch("wininet-3xx") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/moved", options=["--target", wine.win(target)])
    # WinInet gives up, and the socket path, which follows no redirect,
    # reports the answer.
    assert (out.status, out.report) == (SERVER_REFUSED, "\r\n\r\n" + text)


@pytest.mark.parametrize("socket", [False, True], ids=["wininet", "socket"])
def test_diagnostics_go_on_without_their_file(wine, net, socket):
    # A standard user cannot create a file at the root of the system drive.
    blocker = wine.drive_c / DIAG_FILE
    blocker.unlink(missing_ok=True)
    blocker.mkdir()
    try:
        net.origin_a.routes["/diag"] = content(b"fine")
        out = transfer(wine, f"http://{net.origin_a.address}/diag", socket=socket,
                       options=["--diagnostics"])
        assert out.status == (SOCKET_DONE if socket else WININET_DONE)
        assert out.report.startswith(proxy_lines("", "", 80, "CERN") + "CreateError=5\r\n"), out.report
        assert len(net.origin_a.requests) == 1
    finally:
        blocker.rmdir()


@pytest.mark.parametrize("socket", [False, True], ids=["wininet", "socket"])
def test_refused_connection(wine, net, socket):
    target = wine.scratch("refused") / "out.bin"
    out = transfer(wine, f"http://{net.host(netserve.NOBODY)}/f", socket=socket,
                   options=["--target", wine.win(target)])
    assert (out.status, out[0]["counter"]) == (EVENT_ERROR, "0")


@pytest.mark.parametrize("answer", [b"", b"garbage without a status line\r\n\r\n"], ids=["nothing", "garbage"])
def test_no_status_line(wine, net, answer):
    net.origin_a.routes["/odd"] = raw(answer)
    target = wine.scratch("no-status") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/odd", socket=True,
                   options=["--target", wine.win(target)])
    assert out.status == SERVER_REFUSED


def test_server_that_never_answers_ends_after_a_minute(wine, net):
    net.origin_a.routes["/silent"] = silent()
    target = wine.scratch("silent") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/silent", socket=True, timeout=150,
                   options=["--target", wine.win(target)])
    assert (out.status, out[0]["counter"]) == (STALLED, "0")
    assert 60_000_000 <= int(out[0]["microseconds"]) < 120_000_000


def test_answer_ends_with_its_announced_body_on_a_kept_connection(wine, net):
    data = data_of(70000)
    net.origin_a.routes["/kept"] = keep_open(data)
    target = wine.scratch("kept") / "out.bin"
    # The server holds the connection far longer than the test waits.
    out = transfer(wine, f"http://{net.origin_a.address}/kept", socket=True, timeout=45,
                   options=["--target", wine.win(target)])
    assert (out.status, out[0]["counter"]) == (SOCKET_DONE, "1000")
    assert target.read_bytes() == data


def test_chunked_answer_is_refused_with_its_status_text(wine, net):
    net.origin_a.routes["/chunked"] = raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                          b"5\r\nhello\r\n0\r\n\r\n")
    target = wine.scratch("chunked") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/chunked", socket=True,
                   options=["--target", wine.win(target)])
    assert (out.status, out.report, out[0]["counter"]) == (SERVER_REFUSED, "\r\n\r\n200 OK", "0")


def test_body_shorter_than_announced(wine, net):
    net.origin_a.routes["/short"] = early_close(100000, data_of(5000))
    target = wine.scratch("short") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/short", socket=True,
                   options=["--target", wine.win(target)])
    assert (out.status, out[0]["counter"]) == (SHORT_BODY, "0")


def test_disk_full_during_the_download(wine, net):
    net.origin_a.routes["/big"] = content(data_of(300000))
    folder = wine.scratch("disk-full")
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(folder)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip("cannot mount a small file system here: " + mounted.stderr.strip())
    try:
        out = transfer(wine, f"http://{net.origin_a.address}/big", socket=True,
                       options=["--target", wine.win(folder / "out.bin")])
        assert out.status == WRITE_FAILED
    finally:
        subprocess.run(["umount", str(folder)])


@pytest.mark.parametrize("answer", ["download", "diagnostics"])
def test_hostile_status_line_stays_inside_the_report(wine, net, registry, answer):
    net.origin_a.routes["/hostile"] = raw(b"HTTP/1.0 500 " + b"X" * 5000 + b"\r\n\r\nbody")
    url = f"http://{net.origin_a.address}/hostile"
    if answer == "download":
        target = wine.scratch("hostile") / "out.bin"
        out = transfer(wine, url, socket=True, options=["--target", wine.win(target)])
        # Cut where the text written, its CR LF CR LF included, reaches 250.
        assert out.report == "\r\n\r\n500 " + "X" * 242
    else:
        # Proxy lines near their longest, the server bypassing them: a
        # 255-character proxy host (numeric, so that nothing is ever looked
        # up; 0177 is 127) and a bypass list of 1,022 characters, all that
        # the 1,023 bytes read from this source hold.
        proxy = "0" * 246 + "177.0.0.1"
        ignore = net.origin_a.address + ";" + "z" * (1021 - len(net.origin_a.address))
        registry.set({IE: {"ProxyEnable": 1, "ProxyServer": f"http={proxy}:8080",
                           "ProxyOverride": ignore}})
        out = transfer(wine, url, socket=True, options=["--diagnostics"])
        assert out.report.startswith(proxy_lines(proxy, ignore, 8080, "CERN"))
        assert "\r\nServerError=500 " + "X" * 234 + "\r\nWinSockError=" in out.report
    assert out.status == SERVER_REFUSED
    assert (out[0]["terminated"], out[0]["canary"]) == ("yes", "intact")


@pytest.mark.parametrize("socket, ending", [(False, "cancel"), (True, "cancel"), (True, "destroy")],
                         ids=["wininet", "socket", "window-destroyed"])
def test_cancel_ends_the_download(wine, net, socket, ending):
    total = 10_000_000
    net.origin_a.routes["/slow"] = trickle(total, 4096, 0.02, limit=40)
    target = wine.scratch("cancel") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/slow", socket=socket, timeout=45,
                   options=["--target", wine.win(target), "--expected", total, "--share", total,
                            f"--{ending}-after", 20000])
    if ending == "destroy":
        # No window, no more events: the transfer ends at once.
        assert out.status == NO_EVENTS
    else:
        # Cancelled: the usual result, and no final top-up of the counter.
        assert (out.status, out[0]["cancelled"]) == (WININET_DONE, "1")
        assert 20000 < int(out[0]["counter"]) < total
    # The server learns that the client went away, long before its end.
    (request,) = net.origin_a.requests
    wait_until(lambda: request.aborted, 20, "the server to see the connection end")
    assert request.sent < total


@pytest.mark.parametrize("socket", [False, True], ids=["wininet", "socket"])
def test_call_from_the_window_procedure_is_refused(wine, net, socket):
    total = 100000
    net.origin_a.routes["/slow"] = trickle(total, 8192, 0.05)
    target = wine.scratch("reenter") / "out.bin"
    (wine.drive_c / "reentered.bin").unlink(missing_ok=True)
    out = transfer(wine, f"http://{net.origin_a.address}/slow", socket=socket,
                   options=["--target", wine.win(target), "--reenter"])
    # Both the second transfer and the tear-down are refused; the running
    # transfer ends as if it had been alone.
    assert out[0]["reentered"] == f"{BUSY},{BUSY}"
    assert (out.status, out[0]["counter"]) == (SOCKET_DONE if socket else WININET_DONE, "1000")
    assert target.read_bytes() == bytes(i & 0xFF for i in range(total))
    assert len(net.origin_a.requests) == 1
    assert not (wine.drive_c / "reentered.bin").exists()


def test_dos_date_and_time_stamp_only_socket_downloads(wine, net):
    net.origin_a.routes["/dated"] = content(b"dated")
    folder = wine.scratch("dated")
    stamp = ["--dos-date", ((2003 - 1980) << 9) | (4 << 5) | 5, "--dos-time", (6 << 11) | (7 << 5) | 4]
    url = f"http://{net.origin_a.address}/dated"
    assert transfer(wine, url, socket=True,
                    options=["--target", wine.win(folder / "socket.bin"), *stamp]).status == SOCKET_DONE
    # Local time, as the stub's own process sees it: Wine takes the host's zone.
    assert os.stat(folder / "socket.bin").st_mtime == time.mktime((2003, 4, 5, 6, 7, 8, 0, 0, -1))
    before = time.time()
    assert transfer(wine, url, options=["--target", wine.win(folder / "wininet.bin"), *stamp]).status == 0
    assert os.stat(folder / "wininet.bin").st_mtime >= before - 5


def test_null_window_serves_wininet_but_not_sockets(wine, net):
    net.origin_a.routes["/f"] = content(b"windowless")
    folder = wine.scratch("no-window")
    url = f"http://{net.origin_a.address}/f"
    out = transfer(wine, url, options=["--target", wine.win(folder / "a.bin"), "--no-window"])
    assert out.status == WININET_DONE
    assert (folder / "a.bin").read_bytes() == b"windowless"
    net.origin_a.requests.clear()
    out = transfer(wine, url, socket=True, options=["--target", wine.win(folder / "b.bin"), "--no-window"])
    assert out.status == NO_EVENTS
    assert net.origin_a.requests == []


def test_teardown_returns_the_sockets_cleanup_result(wine, net):
    # Before any transfer Windows Sockets was never started: cleanup fails.
    assert transfer(wine, "-", socket=True).status == -1
    net.origin_a.routes["/f"] = content(b"x")
    target = wine.scratch("teardown") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/f", socket=True,
                   options=["--target", wine.win(target), "--teardown"])
    assert (out.status, out.teardown) == (SOCKET_DONE, 0)
    # After a tear-down in the middle, the next transfer starts the sockets
    # again instead of failing on every socket call.
    out = transfer(wine, f"http://{net.origin_a.address}/f", "-", f"http://{net.origin_a.address}/f",
                   socket=True, options=["--target", wine.win(target.parent / "out%d.bin")])
    assert [int(c["status"]) for c in out.calls if "status" in c] == [SOCKET_DONE, 0, SOCKET_DONE]
    assert (target.parent / "out2.bin").read_bytes() == b"x"


def test_proxy_authentication_asks_once_then_gives_up_to_sockets(wine, net, registry):
    # The system's proxy, which WinInet uses too, asks for credentials.
    registry.set({IE: {"ProxyEnable": 1, "ProxyServer": f"{net.recorder.address}:{net.recorder.port}"}})
    net.recorder.routes["/guarded"] = status("407 Proxy Authentication Required", b"",
                                             ['Proxy-Authenticate: Basic realm="kest"'])
    target = wine.scratch("proxy-auth") / "out.bin"
    out = transfer(wine, f"http://{net.origin_a.address}/guarded#sha256={sha(b'')}",
                   options=["--target", wine.win(target), "--dismiss-dialogs"])
    assert out.status == SERVER_REFUSED
    assert out.report == "\r\n\r\n407 Proxy Authentication Required"
    assert out.dialogs == 1
    # WinInet's request, its one retry after the dialog, then the socket path.
    # None of them carries the URL's fragment to the proxy.
    heads = [r.head for r in net.recorder.requests]
    assert len(heads) == 3 and not any(b"#" in h for h in heads), heads
    assert heads[2] == f"GET http://{net.origin_a.address}/guarded HTTP/1.0\r\nAccept: */*\r\n\r\n".encode()
