# SPDX-License-Identifier: BSD-2-Clause-Patent
"""A headless Chromium driven over the DevTools protocol, for the report
page's tests and measurements: Debian's chromium, a fresh profile, no
network of its own; every console error, exception and request recorded.
"""
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--hide-scrollbars", "--remote-debugging-port=0",
]


class Browser:
    def __init__(self, width=1400, height=1000, chromium=None):
        self.profile = tempfile.mkdtemp(prefix="pellrix-chromium-")
        program = chromium or os.environ.get("PELLRIX_CHROMIUM") or shutil.which("chromium") or "/usr/bin/chromium"
        self.process = subprocess.Popen(
            [program, *CHROMIUM_FLAGS, f"--user-data-dir={self.profile}", f"--window-size={width},{height}",
             "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port = self._port()
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=10))
        page = next(t for t in targets if t["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=30, suppress_origin=True)
        self.next_id = 0
        self.events = []
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(domain + ".enable")

    def _port(self):
        marker = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + 30
        while time.time() < deadline:
            if os.path.exists(marker):
                lines = open(marker).read().split("\n")
                if lines and lines[0].strip():
                    return int(lines[0])
            if self.process.poll() is not None:
                raise RuntimeError("chromium ended at start")
            time.sleep(0.05)
        raise RuntimeError("chromium did not open its DevTools port")

    def call(self, method, **params):
        self.next_id += 1
        ident = self.next_id
        self.socket.send(json.dumps({"id": ident, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == ident:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def wait_event(self, method, timeout=30):
        deadline = time.time() + timeout
        seen = 0
        while time.time() < deadline:
            for event in self.events[seen:]:
                if event["method"] == method:
                    return event
            seen = len(self.events)
            self.socket.settimeout(max(0.1, deadline - time.time()))
            try:
                message = json.loads(self.socket.recv())
            except websocket.WebSocketTimeoutException:
                break
            if "method" in message:
                self.events.append(message)
        raise RuntimeError(f"no {method} within {timeout} s")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression[:80]}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def open(self, path):
        url = "file://" + os.path.abspath(path)
        self.call("Page.navigate", url=url)
        self.wait_event("Page.loadEventFired")
        deadline = time.time() + 20
        while self.evaluate("document.body && document.body.dataset.ready") != "true":
            if time.time() > deadline:
                raise RuntimeError("the page never finished drawing")
            time.sleep(0.05)
        return url

    def problems(self, page_url):
        """Console errors, exceptions, and requests for anything but the page."""
        found = []
        for event in self.events:
            method, params = event["method"], event.get("params", {})
            if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
                found.append("console error: " + json.dumps(params.get("args"))[:300])
            elif method == "Runtime.exceptionThrown":
                found.append("exception: " + json.dumps(params.get("exceptionDetails"))[:300])
            elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
                found.append("log error: " + params["entry"].get("text", "")[:300])
            elif method == "Network.requestWillBeSent" and params.get("request", {}).get("url") != page_url:
                found.append("request: " + params["request"]["url"][:300])
        return found

    def close(self):
        try:
            self.socket.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            shutil.rmtree(self.profile, ignore_errors=True)
