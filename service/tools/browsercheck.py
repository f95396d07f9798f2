#!/usr/bin/env python3
"""Manual check with headless Chromium: create an account, log out, log in, post a song and see it
in the feed, through the service's own pages. Not part of the test run (needs the 'chromium'
package).

    service/tools/browsercheck.py [SERVICE_BINARY]     (default build/bin/tunalo-service)
"""
import base64, json, os, re, shutil, socket, subprocess, sys, tempfile, time, urllib.parse, urllib.request


class DevTools:
    """A minimal client for Chromium's DevTools protocol over a plain WebSocket."""

    def __init__(self, ws_url):
        host, port, path = re.match(r"ws://([^:/]+):(\d+)(/.*)", ws_url).groups()
        self.sock = socket.create_connection((host, int(port)))
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            head += self.sock.recv(1)
        assert b" 101 " in head.split(b"\r\n")[0], head
        self.next_id = 0

    def _send(self, text):
        data = text.encode()
        mask = os.urandom(4)
        length = len(data)
        header = bytes([0x81])
        if length < 126:
            header += bytes([0x80 | length])
        elif length < 65536:
            header += bytes([0x80 | 126]) + length.to_bytes(2, "big")
        else:
            header += bytes([0x80 | 127]) + length.to_bytes(8, "big")
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def _exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("DevTools closed the connection")
            data += chunk
        return data

    def _receive(self):
        first, second = self._exact(2)
        length = second & 0x7F
        if length == 126:
            length = int.from_bytes(self._exact(2), "big")
        elif length == 127:
            length = int.from_bytes(self._exact(8), "big")
        payload = self._exact(length)
        return json.loads(payload) if first & 0x0F == 1 else None

    def call(self, method, **params):
        self.next_id += 1
        self._send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = self._receive()
            if message and message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")

    def wait_for_title(self, title, timeout=10):
        """Waits until the loaded page's whole title matches the pattern title."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.evaluate("document.readyState") == "complete" and re.fullmatch(title, self.evaluate("document.title")):
                return
            time.sleep(0.05)
        raise AssertionError(f"title stayed {self.evaluate('document.title')!r}, wanted {title!r}")

    def wait_for_text(self, text, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if text in (self.evaluate("document.body ? document.body.innerText : ''") or ""):
                return
            time.sleep(0.05)
        raise AssertionError(f"the page never showed {text!r}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build/bin/tunalo-service"
    work = tempfile.mkdtemp(prefix="tunalo-browsercheck.")
    port, debug_port = free_port(), free_port()
    base = f"http://127.0.0.1:{port}"
    service = subprocess.Popen([binary, "--listen", f"127.0.0.1:{port}", "--db", f"{work}/service.db"],
                               stderr=open(f"{work}/service.log", "w"))
    browser = subprocess.Popen(["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
                                f"--remote-debugging-port={debug_port}", f"--user-data-dir={work}/profile",
                                "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):
            try:
                targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{debug_port}/json"))
                page = next(t for t in targets if t["type"] == "page")
                break
            except Exception:
                time.sleep(0.1)
        tools = DevTools(page["webSocketDebuggerUrl"])
        tools.call("Page.enable")

        def go(path, title):
            tools.call("Page.navigate", url=base + path)
            tools.wait_for_title(title)

        def fill_and_send(form, name, password):
            # Typed as keystrokes into the fields, then the form's own button is pressed.
            tools.evaluate(f"document.querySelector('form[action=\"{form}\"] input[name=name]').focus()")
            tools.call("Input.insertText", text=name)
            tools.evaluate(f"document.querySelector('form[action=\"{form}\"] input[name=password]').focus()")
            tools.call("Input.insertText", text=password)
            tools.evaluate(f"document.querySelector('form[action=\"{form}\"] button').click()")

        go("/fb/tnlouserhome.php", "failed")
        assert tools.evaluate("document.activeElement.name") == "name", "the name field has the focus"
        print("home without a session: 'failed', name field focused")

        fill_and_send("/fb/register", "Ann.Browser", "correct horse")
        tools.wait_for_title("Login Succsesfull")
        assert "Hello, Ann.Browser" in tools.evaluate("document.body.innerText")
        cookie = next(c for c in tools.call("Network.getAllCookies")["cookies"] if c["name"] == "tunalo_session")
        assert cookie["httpOnly"] and cookie["sameSite"] == "Strict" and cookie["path"] == "/", cookie
        assert tools.evaluate("document.cookie") == "", "scripts cannot read the session"
        print("account created and logged in: 'Login Succsesfull'; cookie HttpOnly, SameSite=Strict")

        tools.evaluate("document.querySelector('form[action=\"/fb/logout\"] button').click()")
        tools.wait_for_title("failed")
        tools.wait_for_text("You are logged out.")
        fill_and_send("/fb/login", "Ann.Browser", "wrong password")
        tools.wait_for_text("Wrong name or password")
        tools.wait_for_title("failed")
        fill_and_send("/fb/login", "Ann.Browser", "correct horse")
        tools.wait_for_title("Login Succsesfull")
        print("logged out, wrong password refused with a message, logged in again")

        tools.evaluate("document.querySelector('input[name=audience][value=public]').click()")
        tools.evaluate("document.querySelector('form[action=\"/fb/destinations\"] button').click()")
        tools.wait_for_text("Everyone sees your songs")
        print("songs for everyone, chosen on the home page")

        song = "Björk & <The Band> - Song #1"
        go("/fb/update.php?s=" + urllib.parse.quote(song, safe=""), r"Posted ID:\d+")
        title = tools.evaluate("document.title")
        go("/fb/feed", "Tunalo feed")
        text = tools.evaluate("document.body.innerText")
        assert f"Ann.Browser listens to {song}" in text.replace("\u201c", "").replace("\u201d", ""), text
        assert tools.evaluate("document.querySelectorAll('script').length") == 0
        print(f"posted ({title}) and the feed shows: {song}")
        print("browser check passed")
    finally:
        browser.kill()
        service.terminate()
        browser.wait()
        service.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
