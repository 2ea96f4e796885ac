"""A headless Chromium driven over its DevTools protocol: open a page, collect its JavaScript
errors, evaluate expressions and take screenshots. A browser that cannot start fails the test."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request
from pathlib import Path

import websocket


class Browser:
    def __init__(self, width=1280, height=900):
        binary = shutil.which("chromium") or shutil.which("chromium-browser")
        if binary is None:
            raise RuntimeError("chromium is not installed: run scripts/setup.sh")
        self._profile = tempfile.mkdtemp(prefix="tarvex-chromium-")
        # A small /dev/shm, as containers often have, would crash the renderer; /tmp serves instead.
        flags = [
            "--headless=new",
            "--disable-gpu",
            "--disable-dev-shm-usage",
            "--no-first-run",
            "--remote-debugging-port=0",
            "--remote-allow-origins=*",
            f"--user-data-dir={self._profile}",
            f"--window-size={width},{height}",
        ]
        if os.geteuid() == 0:
            flags.append("--no-sandbox")  # Chromium's sandbox refuses to run as root
        self._process = subprocess.Popen(
            [binary, *flags, "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE
        )
        port = self._port()
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=10) as reply:
            page = next(t for t in json.load(reply) if t["type"] == "page")
        self._socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60, suppress_origin=True)
        self._next_id = 0
        self.errors = []  # uncaught exceptions and console errors, as text
        self._events = []
        for domain in ("Page", "Runtime", "Log"):
            self.call(f"{domain}.enable")

    def _port(self):
        active = Path(self._profile, "DevToolsActivePort")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                raise RuntimeError(f"chromium exited: {self._process.stderr.read().decode(errors='replace')[-2000:]}")
            if active.exists() and active.read_text().strip():
                return int(active.read_text().split()[0])
            time.sleep(0.05)
        raise RuntimeError("chromium did not open its DevTools port within 30 s")

    def call(self, method, **params):
        self._next_id += 1
        self._socket.send(json.dumps({"id": self._next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self._socket.recv())
            if message.get("id") == self._next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message["result"]
            self._note(message)

    def _note(self, event):
        method, params = event.get("method"), event.get("params", {})
        if method == "Runtime.exceptionThrown":
            details = params["exceptionDetails"]
            self.errors.append(details.get("exception", {}).get("description") or details.get("text"))
        elif method == "Runtime.consoleAPICalled" and params.get("type") == "error":
            self.errors.append(" ".join(str(a.get("value", a.get("description"))) for a in params["args"]))
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            self.errors.append(params["entry"]["text"])
        self._events.append(method)

    def open(self, path, timeout=60):
        """Loads a file or an http:// address and waits for its load event."""
        self._events.clear()
        url = str(path) if str(path).startswith("http://") else Path(path).resolve().as_uri()
        self.call("Page.navigate", url=url)
        deadline = time.monotonic() + timeout
        while "Page.loadEventFired" not in self._events:
            if time.monotonic() > deadline:
                raise TimeoutError(f"{path} did not load within {timeout} s")
            self._note(json.loads(self._socket.recv()))

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, timeout=30):
        deadline = time.monotonic() + timeout
        while not self.evaluate(expression):
            if time.monotonic() > deadline:
                raise TimeoutError(f"still false after {timeout} s: {expression}")
            time.sleep(0.1)

    def screenshot(self):
        """The whole page as PNG bytes, at one CSS pixel per image pixel."""
        size = self.call("Page.getLayoutMetrics")["cssContentSize"]
        clip = {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}
        data = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=True, clip=clip)["data"]
        return base64.b64decode(data)

    def close(self):
        try:
            self._socket.close()
        finally:
            self._process.kill()
            self._process.wait()
            shutil.rmtree(self._profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
