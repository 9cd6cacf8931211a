#!/usr/bin/python3
"""The preview page in headless Chromium, driven as a person would drive it.

Starts `vantrel preview` on a copy of the first example (on a free port) and
checks that the page shows every control the module declares, with its
groups folded as declared; that dragging "Delay (frames)" changes the frame;
that Save writes the file; and that the frame shown at a position reached with
the keyboard equals `vantrel render`'s PNG of that frame. Writes a screenshot
of the page on the way.

usage: preview_page_test.py VANTREL MODULE EXAMPLE WORK_DIR [SCREENSHOT]
Exits 77 (skipped) when Chromium, its driver or Selenium is not installed.
"""

import base64
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import zlib

SKIP = 77
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver") or (
    "/usr/bin/chromedriver" if os.path.exists("/usr/bin/chromedriver") else None)
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None

WAIT = 90  # seconds; the machine may be busy


def read_png(path):
    """8-bit RGB or RGBA PNG -> (width, height, RGBA bytes)."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, (depth, colour)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    pixels = b"".join(rows)
    if channels == 3:
        pixels = b"".join(pixels[i:i + 3] + b"\xff" for i in range(0, len(pixels), 3))
    return width, height, pixels


def declared_controls(vantrel, module):
    """(controls, {group: starts folded}) from `vantrel controls`."""
    out = subprocess.run([vantrel, "controls", "--module", module], check=True,
                         capture_output=True, text=True).stdout.splitlines()
    header = out[0]
    name_at, type_at, range_at = header.index("name"), header.index("type"), header.index("range")
    controls, groups = [], {}
    for line in out[1:]:
        name, kind = line[name_at:type_at].strip(), line[type_at:range_at].strip()
        if kind in ("float slider", "pop-up", "checkbox"):
            controls.append(name)
        elif kind == "group start":
            groups[name] = "START_COLLAPSED" in line
    return controls, groups


def main():
    if webdriver is None or CHROMIUM is None or DRIVER is None:
        print("skipped: chromium, chromedriver or python3-selenium is not installed")
        return SKIP
    vantrel, module, example, work = sys.argv[1:5]
    screenshot = sys.argv[5] if len(sys.argv) > 5 else os.path.join(work, "preview.png")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    scene = os.path.join(work, "title.json")
    shutil.copy(example, scene)
    controls, groups = declared_controls(vantrel, module)

    server = subprocess.Popen(
        [vantrel, "preview", scene, "--port", "0", "--module", module, "--out",
         os.path.join(work, "export")],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    driver = None
    try:
        first = server.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:\d+/", first)
        assert match, "no address in: " + first
        url = match.group(0)

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1400,860", "--hide-scrollbars", "--force-device-scale-factor=1"):
            options.add_argument(arg)
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        driver.set_script_timeout(WAIT)
        wait = WebDriverWait(driver, WAIT)
        driver.get(url)

        def frame_drawn(frame=None):
            wait.until(lambda d: d.execute_script(
                "const p = window.vantrel && window.vantrel.page;"
                "return p && p.state && p.drawnVersion >= p.state.version"
                " && (arguments[0] === null || p.drawnFrame === arguments[0]);", frame))
            driver.execute_async_script(
                "window.vantrel.frameDrawn().then(arguments[arguments.length - 1]);")

        def pixels():
            return base64.b64decode(driver.execute_script(
                "const c = document.getElementById('frame');"
                "const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
                "let s = ''; for (let i = 0; i < d.length; i += 8192)"
                "  s += String.fromCharCode.apply(null, d.subarray(i, i + 8192));"
                "return btoa(s);"))

        frame_drawn(0)

        # Every declared control, under its group, which starts as declared.
        shown = driver.execute_script(
            "return [...document.querySelectorAll('[data-control]')]"
            ".map(e => e.dataset.control);")
        assert shown == controls, (shown, controls)
        for name, folded in groups.items():
            box = driver.find_element(By.CSS_SELECTOR, f'[data-group="{name}"]')
            assert ("open" not in box.get_attribute("class").split()) == folded, name

        # Scrub with the keyboard: End, then back eleven frames.
        body = driver.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.END)
        for _ in range(11):
            body.send_keys(Keys.ARROW_LEFT)
        frame_drawn(20)
        assert driver.find_element(By.ID, "clock").text.startswith("20 / 31"), \
            driver.find_element(By.ID, "clock").text

        # Drag the "Delay (frames)" number to the right: a new value, a new frame.
        before = pixels()
        number = driver.find_element(By.CSS_SELECTOR, '[data-number="Delay (frames)"]')
        ActionChains(driver).click_and_hold(number).move_by_offset(40, 0).release().perform()
        wait.until(lambda d: float(number.get_attribute("value")) > 2)
        frame_drawn(20)
        delay = float(number.get_attribute("value"))
        shown = pixels()
        assert shown != before, "the frame did not change with Delay (frames)"
        # The last value dragged to won: the frame on screen is the server's
        # frame for the scene as it now is.
        newest = base64.b64decode(driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch('/api/frame?frame=20&res=full').then((r) => r.arrayBuffer()).then((b) => {
              const d = new Uint8Array(b);
              let s = '';
              for (let i = 0; i < d.length; i += 8192)
                s += String.fromCharCode.apply(null, d.subarray(i, i + 8192));
              done(btoa(s));
            });"""))
        assert shown == newest, "the page shows an older frame than the scene's newest"

        # The README's picture: the page at frame 12 with a group open.
        driver.find_element(By.CSS_SELECTOR, '[data-group="Range Selector"] > .twirl').click()
        driver.execute_script("window.vantrel.setFrame(12)")
        frame_drawn(12)
        # The status line's render time changes from run to run; the picture
        # should not.
        driver.execute_script("document.getElementById('status').textContent = ''")
        os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
        driver.save_screenshot(screenshot)

        # Save writes the file with the new value and keeps the rest.
        original = open(example).read()
        driver.find_element(By.ID, "save").click()
        wait.until(lambda d: "saved" in d.find_element(By.ID, "status").text)
        saved = open(scene).read()
        assert re.search(r'"Delay \(frames\)": %s\b' % re.escape(f"{delay:g}"), saved), saved
        assert '"interpolation": "ease"' in saved and '"description"' in saved, saved
        assert saved != original

        # The frame shown at a quarter of the resolution is the render's PNG.
        resolution = driver.find_element(By.ID, "resolution")
        resolution.send_keys("Quarter")
        driver.execute_script("window.vantrel.setFrame(20)")
        wait.until(lambda d: d.execute_script(
            "return document.getElementById('frame').width") == 320)
        frame_drawn(20)
        shown = pixels()
        out = os.path.join(work, "render")
        subprocess.run([vantrel, "render", scene, "--frames", "20", "--resolution", "quarter",
                        "--out", out, "--no-contact-sheet", "--quiet", "--module", module],
                       check=True)
        width, height, rendered = read_png(os.path.join(out, "frame_0020.png"))
        assert (width, height) == (320, 180) and len(shown) == len(rendered)
        worst = max(abs(a - b) for a, b in zip(shown, rendered))
        assert worst <= 1, f"the page's frame differs from the render by {worst} levels"
        print(f"ok: {len(controls)} controls, delay dragged to {delay}, frame 20 matches "
              f"the render (largest difference {worst}), screenshot {screenshot}")
        return 0
    finally:
        if driver is not None:
            driver.quit()
        # Ctrl-C stops the server cleanly.
        server.send_signal(signal.SIGINT)
        try:
            code = server.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            server.kill()
            raise
        rest = server.stdout.read()
        assert code == 0 and "stopped" in rest, (code, rest)


if __name__ == "__main__":
    sys.exit(main())
