"""Benchmark of the exported transfer client under Wine: a 256 MiB download
from a loopback server through t1's WinInet path (Wine's WinInet), through
t1's socket path (WinInet taken away), and with native curl writing the
same bytes to a file in the same run. The stub's figures are the call's own
time inside transfer_client.exe, without Wine's start-up; curl's are the
whole process. Needs root, for the server's port 80. Run with `make bench`."""
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from benchlib import report, timed  # noqa: E402  (also puts tests/e2e on the path)
from netserve import BUILD, ORIGIN_A, HttpServer, content, session_network  # noqa: E402
from winehost import ARCH_LINE, BASE_OVERRIDES, STUB, Display, Wine  # noqa: E402

SIZE = 256 * 1024 * 1024
RUNS = 5


def source_file():
    path = BUILD / "netserve" / "bench-256m.bin"
    if not path.exists() or path.stat().st_size != SIZE:
        path.parent.mkdir(parents=True, exist_ok=True)
        block = os.urandom(1024 * 1024)
        with open(path, "wb") as f:
            for i in range(SIZE // len(block)):
                f.write(block[i:] + block[:i])
    return path


def main():
    if os.geteuid() != 0:
        raise SystemExit("transfer bench: the loopback server listens on port 80, which needs root")
    print(ARCH_LINE.replace("e2e: ", "bench: ", 1))
    server = HttpServer("bench", f"{session_network()}.{ORIGIN_A}")
    server.routes["/big.bin"] = content(source_file())
    url = f"http://{server.address}/big.bin"
    display = Display()
    wine = Wine(display)
    try:
        folder = wine.scratch("transfer-bench")
        target = folder / "out.bin"

        def stub(socket_path):
            env = {"WINEDLLOVERRIDES": BASE_OVERRIDES + ";wininet=d"} if socket_path else None
            samples = []
            for _ in range(RUNS):
                r = wine.tool("transfer_client.exe", wine.win(STUB), url, "--target", wine.win(target),
                              "--expected", str(SIZE), "--share", "1000000", env=env, timeout=600)
                want = "status=4" if socket_path else "status=0"
                assert want in r.stdout and target.stat().st_size == SIZE, r.stdout + r.stderr
                samples.append(int(r.stdout.split("microseconds=")[1].split()[0]) / 1e6)
                target.unlink()
            return samples

        def curl():
            seconds = timed(["curl", "-s", "-f", "--noproxy", "*", "-o", str(target), url])
            assert target.stat().st_size == SIZE
            target.unlink()
            return seconds

        curl()  # the source into the page cache, as for every later run
        base = report("curl -o, 256 MiB (whole process)", [curl() for _ in range(RUNS)])
        for name, socket_path in (("WinInet path (Wine's WinInet)", False), ("socket path", True)):
            median = report(f"stub t1, 256 MiB, {name} (in process)", stub(socket_path))
            print(f"  {SIZE / median / 2**20:.0f} MiB/s, {median / base:.2f} x curl")
    finally:
        wine.close()
        display.close()
        server.close()


if __name__ == "__main__":
    main()
