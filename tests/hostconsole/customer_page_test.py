#!/usr/bin/env python3
"""The sandbox's customer page in a real browser: headless Chromium loads it while the host
console's Pay waits, clicks the payment's Pay button, and the Pay returns the payment.

    customer_page_test.py WINE_RUN BIN_DIR [SCREENSHOT.png]

The sandbox comes from TOLVARO_SANDBOX (its info file); BIN_DIR holds tolvaro_host.exe and
tolvaro.dll. Chromium and the console are started here and stopped by their PIDs."""
import base64, json, os, random, shutil, signal, socket, struct, subprocess, sys, tempfile, time, urllib.request

WINE_RUN, BIN = sys.argv[1], sys.argv[2]
SHOT = sys.argv[3] if len(sys.argv) > 3 else None
info = dict(l.strip().split("=", 1) for l in open(os.environ["TOLVARO_SANDBOX"]) if "=" in l)
HTTP = info["http"]


def post(url, body):
    req = urllib.request.Request(url, data=json.dumps(body).encode(), method="POST")
    return urllib.request.urlopen(req, timeout=30).read()


class DevTools:
    """Just enough of a WebSocket client for the browser's DevTools protocol."""

    def __init__(self, ws_url):
        host_port, path = ws_url[len("ws://"):].split("/", 1)
        host, port = host_port.split(":")
        self.sock = socket.create_connection((host, int(port)), timeout=30)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /{path} HTTP/1.1\r\nHost: {host_port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                raise RuntimeError("DevTools closed the connection")
            head += chunk
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise RuntimeError("no WebSocket: " + head.decode(errors="replace"))
        self.next_id = 0

    def _recv_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise RuntimeError("DevTools closed the connection")
            data += chunk
        return data

    def _recv_message(self):
        message = b""
        while True:
            b0, b1 = self._recv_exact(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._recv_exact(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._recv_exact(8))[0]
            message += self._recv_exact(n)
            if b0 & 0x80:
                return message

    def call(self, method, **params):
        self.next_id += 1
        payload = json.dumps({"id": self.next_id, "method": method, "params": params}).encode()
        mask = os.urandom(4)
        n = len(payload)
        head = bytes([0x81]) + (bytes([0x80 | n]) if n < 126 else bytes([0x80 | 126]) + struct.pack(">H", n))
        self.sock.sendall(head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))
        while True:
            answer = json.loads(self._recv_message())
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]

    def eval(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")


def main():
    key = f"page-{os.getpid()}-{random.randrange(1 << 30)}"
    post(f"{HTTP}/_control/terminals", {"TerminalKey": key, "Password": "secret"})
    work = tempfile.mkdtemp(prefix="customer-page.")
    procs = []
    registered = False
    try:
        if subprocess.run([WINE_RUN, "--regsvr32", f"{BIN}/tolvaro.dll"]).returncode:
            print("FAIL: regsvr32")
            return 1
        registered = True
        host = [WINE_RUN, f"{BIN}/tolvaro_host.exe", "--config", f"{work}/host.ini", "--json"]
        subprocess.run(host + ["settings", f"Host={HTTP}/v2", f"TerminalKey={key}", "Password=secret",
                               "WaitTimeout=120"], cwd=work, check=True, stdout=subprocess.DEVNULL)
        console = subprocess.Popen(host + ["session", "register 42.00", "pay $QR"], cwd=work,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
        procs.append(console)

        profile = f"{work}/chromium"
        browser = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             f"--user-data-dir={profile}", "--remote-debugging-port=0", "--window-size=1000,640",
             f"{HTTP}/customer"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
            # Its profile, caches and crash reports stay in the run's folder (CI may have no usable home).
            env=dict(os.environ, HOME=work, XDG_CONFIG_HOME=f"{work}/config", XDG_CACHE_HOME=f"{work}/cache"))
        procs.append(browser)
        deadline = time.time() + 60
        while not os.path.exists(f"{profile}/DevToolsActivePort"):
            if time.time() > deadline or browser.poll() is not None:
                print("FAIL: Chromium did not open its DevTools port")
                return 1
            time.sleep(0.2)
        time.sleep(0.2)
        port = open(f"{profile}/DevToolsActivePort").read().split()[0]
        pages = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json", timeout=30))
        page = next(p for p in pages if p.get("type") == "page")
        tools = DevTools(page["webSocketDebuggerUrl"])

        # The page shows the payment, its QR code, and that the till is waiting for it.
        card = f'document.querySelector(\'.card[data-terminal="{key}"]\')'
        deadline = time.time() + 90
        while not tools.eval(f"!!({card} && {card}.querySelector('.polls') && {card}.querySelector('img').complete)"):
            if time.time() > deadline or console.poll() is not None:
                print("FAIL: the page never showed the waiting payment")
                return 1
            time.sleep(0.3)
        text = tools.eval(f"{card}.innerText")
        for want in ("42.00", "FORM_SHOWED", "Pay", "Reject", "Cancel"):
            if want not in text:
                print(f"FAIL: the card lacks {want!r}: {text!r}")
                return 1
        if not tools.eval(f"{card}.querySelector('img').naturalWidth > 0"):
            print("FAIL: the QR code image did not load")
            return 1
        if SHOT:
            # A slow machine may have no frame to give yet: asked again.
            for attempt in range(10):
                try:
                    shot = tools.call("Page.captureScreenshot", format="png", captureBeyondViewport=True)["data"]
                    break
                except RuntimeError:
                    if attempt == 9:
                        raise
                    time.sleep(1)
            open(SHOT, "wb").write(base64.b64decode(shot))
        tools.eval(f"{card}.querySelector('button.pay').click()")

        try:
            out, _ = console.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            print("FAIL: Pay did not return after the click")
            return 1
        out = out.decode(errors="replace")
        if console.returncode != 0 or '"command":"pay","ok":true,"Amount":42.00' not in out:
            print(f"FAIL: the console ended {console.returncode}: {out}")
            return 1
        deadline = time.time() + 30
        while tools.eval(f"{card} && {card}.dataset.status") != "CONFIRMED":
            if time.time() > deadline:
                print("FAIL: the page never showed the payment as CONFIRMED")
                return 1
            time.sleep(0.3)
        print("ok: the page's Pay button paid the payment the console was waiting for")
        return 0
    finally:
        for p in procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
        if registered:
            subprocess.run([WINE_RUN, "--regsvr32", "/u", f"{BIN}/tolvaro.dll"])
        shutil.rmtree(work, ignore_errors=True)


sys.exit(main())
