#!/usr/bin/python3
"""The browse page in a real browser: headless Chromium driven through its DevTools protocol.

At a phone's size (390x844, mobile user agent) and a desktop's (1280x800) it loads the browse
page of a folder with Japanese and 100-character names and checks what a person meets: text
size, tap targets, no sideways scrolling, sorting and filtering without a reload, the grid, no
request to any other host and no refusal by the page's security policy.

usage: browse-page.py VELMORA [SCREENSHOT_FOLDER]   (browse-phone.png and browse-desktop.png go there)
"""
import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib

import websocket

PHONE_UA = ("Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 "
            "(KHTML, like Gecko) Version/17.0 Mobile/15E148 Safari/604.1")
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def png(width, height, rgb):
    row = b"\x00" + bytes(rgb) * width
    chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(row * height)) + chunk(b"IEND", b""))


def make_tree(root):
    os.makedirs(os.path.join(root, "写真"))
    os.makedirs(os.path.join(root, "書類"))
    names = ["議事録_2026年12月.txt", "見積書.pdf", "a" * 96 + ".txt",
             "とても長い日本語のファイル名" * 5 + ".txt", "readme.md", "data.bin"]
    for index, name in enumerate(names):
        with open(os.path.join(root, name), "wb") as f:
            f.write(b"x" * (index * 7919 + 1))
    for index, colour in enumerate([(200, 60, 60), (60, 160, 80), (50, 90, 200)]):
        with open(os.path.join(root, "写真", "写真%d.png" % index), "wb") as f:
            f.write(png(64, 48, colour))
    return names


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Browser:
    def __init__(self, work):
        profile = os.path.join(work, "profile")
        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--remote-debugging-port=0", "--user-data-dir=" + profile, "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        for _ in range(200):
            if os.path.exists(port_file) and open(port_file).read().count("\n") >= 1:
                break
            time.sleep(0.05)
        port = open(port_file).read().split("\n")[0]
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port, timeout=10))
        page = next(t for t in targets if t["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=20)
        self.next_id = 0
        self.events = []

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def value(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        return result["result"].get("value")

    def wait(self, expression, seconds=10):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if self.value(expression):
                return True
            time.sleep(0.1)
        return False

    def close(self):
        self.socket.close()
        self.process.terminate()
        self.process.wait(10)


ROW_NAMES = ("[...document.querySelectorAll('#rows > li')].filter(li => !li.hidden)"
             ".map(li => li.querySelector('a.name').textContent.replace(/\\/$/, ''))")


def visit(browser, base, size, mobile, names, shots, shot_name):
    width, height = size
    browser.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                 deviceScaleFactor=2 if mobile else 1, mobile=mobile)
    browser.call("Emulation.setUserAgentOverride", userAgent=PHONE_UA if mobile else "Mozilla/5.0 (X11; Linux x86_64)",
                 acceptLanguage="ja" if mobile else "en-US")
    browser.call("Emulation.setTouchEmulationEnabled", enabled=mobile)
    browser.events.clear()
    label = "%dx%d" % size
    browser.call("Page.navigate", url=base + "/?browse")
    check(browser.wait("document.readyState === 'complete' && !!document.getElementById('rows')"),
          label + ": the page loads")
    check(browser.value("document.documentElement.lang") == ("ja" if mobile else "en"),
          label + ": texts in the browser's language")
    font = browser.value("Math.min(...[...document.querySelectorAll('#rows .name, #rows .meta')]"
                         ".map(e => parseFloat(getComputedStyle(e).fontSize)))")
    check(font >= 15, label + ": row text at least 15 px (%s)" % font)
    scroll = browser.value("[document.documentElement.scrollWidth, innerWidth]")
    check(scroll[0] <= scroll[1], label + ": no sideways scrolling (%s)" % scroll)
    tap = browser.value("Math.min(...[...document.querySelectorAll('#rows a, #rows button, .heads a, .tools a')]"
                        ".filter(e => e.offsetParent).map(e => e.getBoundingClientRect().height))")
    check(tap >= 43.5, label + ": tap targets at least 44 px high (%s)" % tap)
    long_name = browser.value("(() => { const a = [...document.querySelectorAll('#rows .name')]"
                              ".find(a => a.textContent.startsWith('aaaa')); const r = a.getBoundingClientRect();"
                              " return a.scrollWidth <= a.clientWidth + 1 && r.right <= innerWidth; })()")
    check(long_name, label + ": a 100-character name wraps inside the screen")
    dates = browser.value("[...document.querySelectorAll('time')].every(t => t.textContent !== t.dateTime)")
    check(dates, label + ": dates in the client's locale")
    if shots:
        data = browser.call("Page.captureScreenshot", format="png")["data"]
        with open(os.path.join(shots, shot_name), "wb") as f:
            f.write(base64.b64decode(data))

    files = sorted(names, key=lambda n: os.path.getsize(os.path.join(ROOT, n)))
    browser.value("document.querySelectorAll('.heads a')[2].click()")
    check(browser.value(ROW_NAMES) == ["写真", "書類"] + files, label + ": the size head sorts by size")
    browser.value("document.querySelectorAll('.heads a')[2].click()")
    check(browser.value(ROW_NAMES) == ["写真", "書類"] + files[::-1], label + ": a second click turns it round")
    check(browser.value("location.search").startswith("?browse"), label + ": the order is kept in the URL")
    browser.value("(() => { const box = document.querySelector('.filter input[type=search]');"
                  " box.value = '日本語'; box.dispatchEvent(new Event('input')); })()")
    check(browser.value(ROW_NAMES) == [n for n in names if "日本語" in n], label + ": the filter box hides rows")

    browser.call("Page.navigate", url=base + "/%E5%86%99%E7%9C%9F/?browse&view=grid")
    check(browser.wait("document.readyState === 'complete' && document.querySelectorAll('#rows li').length === 3"),
          label + ": the grid loads")
    # A thumbnail shows, or (where thumbnails are not served) the row falls back to its icon.
    check(browser.wait("[...document.querySelectorAll('#rows li')].every(li => { const i = li.querySelector('img');"
                       " return i ? i.complete && i.naturalWidth > 0 : getComputedStyle(li.querySelector('.icon'))"
                       ".display !== 'none'; })"), label + ": every grid tile shows a picture or its icon")
    browser.value("document.querySelector('#rows a.view').click()")
    check(browser.wait("!document.getElementById('viewer').hidden && document.querySelector('#viewer img')"
                       ".naturalWidth === 64"), label + ": a tap opens the image full size")
    browser.value("document.getElementById('next').click()")
    check(browser.wait("decodeURIComponent(document.querySelector('#viewer img').src).endsWith('写真1.png')"),
          label + ": next shows the next image")

    requests = [e["params"]["request"]["url"] for e in browser.events if e.get("method") == "Network.requestWillBeSent"]
    foreign = [u for u in requests if not u.startswith(base + "/") and not u.startswith("data:")]
    check(requests and not foreign, label + ": no request leaves for another host %s" % foreign)
    refused = [e["params"]["entry"]["text"] for e in browser.events if e.get("method") == "Log.entryAdded"
               and "Content Security Policy" in e["params"]["entry"]["text"]]
    refused += [e["params"] for e in browser.events if e.get("method") == "Runtime.consoleAPICalled"
                and "Content Security Policy" in json.dumps(e["params"])]
    refused += browser.value("window.refusals") or []
    check(not refused, label + ": the security policy refuses nothing %s" % refused[:2])


def main():
    global ROOT
    binary = sys.argv[1]
    shots = sys.argv[2] if len(sys.argv) > 2 else None
    work = tempfile.mkdtemp()
    ROOT = os.path.join(work, "root")
    names = make_tree(ROOT)
    port = free_port()
    server = subprocess.Popen([binary, "--headless", "--port", str(port), ROOT], stdout=subprocess.DEVNULL)
    browser = None
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        browser = Browser(work)
        for domain in ("Page.enable", "Network.enable", "Runtime.enable", "Log.enable"):
            browser.call(domain)
        # Exempt from the page's policy itself, this collects whatever the policy refuses.
        browser.call("Page.addScriptToEvaluateOnNewDocument",
                     source="window.refusals = []; document.addEventListener('securitypolicyviolation',"
                            " e => window.refusals.push(e.violatedDirective + ' ' + e.blockedURI));")
        base = "http://127.0.0.1:%d" % port
        visit(browser, base, (390, 844), True, names, shots, "browse-phone.png")
        visit(browser, base, (1280, 800), False, names, shots, "browse-desktop.png")
    finally:
        if browser:
            browser.close()
        server.terminate()
        server.wait(10)
        shutil.rmtree(work, ignore_errors=True)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
