#!/usr/bin/python3
"""Measures `vantrel preview` in headless Chromium.

1. A control change to its frame drawn: "Delay (frames)" set 200 times over
   examples/01-title-slide.json at full resolution, from the edit's request to
   the first animation frame after the new image is on the canvas; p50, p95
   and where the median time goes (the render, the rest of the server's work,
   the transfer, the drawing).
2. Playback at half (and full) resolution: frames drawn per second over 5 s.
3. The server's resident memory over 10,000 frame requests (a control edit
   every tenth), read from /proc.

usage: preview_page.py VANTREL MODULE SCENE
"""

import http.client
import json
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        kib = int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))
    return kib / 1024


def main():
    vantrel, module, example = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="vantrel-preview-bench-")
    scene = os.path.join(work, os.path.basename(example))
    with open(example) as src, open(scene, "w") as dst:
        dst.write(src.read())
    server = subprocess.Popen([vantrel, "preview", scene, "--port", "0", "--module", module],
                              stdout=subprocess.PIPE, text=True)
    driver = None
    try:
        url = re.search(r"http://[\d.]+:\d+/", server.stdout.readline()).group(0)
        port = int(url.rsplit(":", 1)[1].strip("/"))
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1600,1000"):
            options.add_argument(arg)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.set_script_timeout(120)
        driver.get(url)
        driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const wait = () => window.vantrel && window.vantrel.page.drawnFrame === 0
                ? done() : setTimeout(wait, 50);
            wait();""")

        # 1. Control change -> frame drawn, full resolution.
        samples = driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            (async () => {
              window.vantrel.setFrame(12);
              await window.vantrel.frameDrawn();
              const out = [];
              for (let i = 0; i < 220; i++) {
                const start = performance.now();
                await window.vantrel.setControl('Delay (frames)', 1 + (i % 40) / 4);
                await new Promise((r) => requestAnimationFrame(r));
                const s = window.vantrel.page.stats.last;
                if (i >= 20) out.push({ total: performance.now() - start, ...s });
              }
              done(out);
            })();""")
        totals = sorted(s["total"] for s in samples)
        p50 = statistics.median(totals)
        p95 = totals[int(0.95 * len(totals)) - 1]
        parts = {k: statistics.median(s[k] for s in samples)
                 for k in ("edit", "render", "server", "headers", "body", "draw")}
        print(f"control change -> frame drawn, 1280x720: p50 {p50:.1f} ms, p95 {p95:.1f} ms "
              f"over {len(totals)} changes")
        print("  median parts: on the server {server:.1f} ms (the edit {edit:.2f} ms, the render "
              "{render:.1f} ms, the rest waiting and copying); {headers:.1f} ms from the "
              "request to the answer's headers, {body:.1f} ms for the 3.7 MB of pixels, "
              "{draw:.1f} ms putImageData".format(**parts))
        print(f"  (the rest, {p50 - parts['headers'] - parts['body'] - parts['draw']:.1f} ms, "
              "is the wait for the next animation frame; the edit travels with the frame's request)")

        # 2. Playback.
        for res in ("half", "full"):
            fps = driver.execute_async_script("""
                const done = arguments[arguments.length - 1];
                (async () => {
                  const select = document.getElementById('resolution');
                  select.value = arguments[0];
                  select.dispatchEvent(new Event('change'));
                  await new Promise((r) => setTimeout(r, 500));
                  window.vantrel.play(true);
                  const start = performance.now();
                  await new Promise((r) => setTimeout(r, 5000));
                  const frames = window.vantrel.page.stats.frames;
                  window.vantrel.play(false);
                  done(frames / ((performance.now() - start) / 1000));
                })();""", res)
            print(f"playback at {res} resolution: {fps:.1f} frames per second drawn "
                  f"(the scene runs at 30)")
        driver.quit()
        driver = None

        # 3. Resident memory over 10,000 frame requests.
        conn = http.client.HTTPConnection("127.0.0.1", port)
        marks = {}
        for i in range(1, 10001):
            if i % 10 == 0:
                body = json.dumps({"name": "Delay (frames)", "value": (i // 10) % 50})
                conn.request("POST", "/api/control", body, {"Content-Type": "application/json"})
                conn.getresponse().read()
            conn.request("GET", f"/api/frame?frame={i % 32}&res=half")
            r = conn.getresponse()
            r.read()
            assert r.status == 200, r.status
            if i in (100, 1000, 2500, 5000, 7500, 10000):
                marks[i] = rss_mib(server.pid)
        print("server RSS after N frame requests: " +
              ", ".join(f"{n}: {v:.1f} MiB" for n, v in marks.items()))
    finally:
        if driver is not None:
            driver.quit()
        server.send_signal(signal.SIGINT)
        server.wait(timeout=60)


if __name__ == "__main__":
    main()
