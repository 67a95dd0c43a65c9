#!/usr/bin/env python3
"""Loads quorvane-report's HTML page in headless Chromium and checks it from the DOM.

Usage: check_page.py QUORVANE_REPORT OUT_DIR

Makes hostile logs, writes the page and the CSVs, opens the page through the DevTools protocol
on a pipe (no port, no Node) and checks: both tables equal the CSVs cell for cell, leeches are
marked, a header click re-sorts, no script but the page's own runs (a canary in the names), no
dialog opens, no policy is violated, nothing is fetched. Then screenshots, light and dark, at
1280x900 into OUT_DIR.
"""
import base64, csv, io, json, os, shutil, signal, subprocess, sys, tempfile, time

report, out_dir = sys.argv[1], sys.argv[2]
if not shutil.which("chromium"):
    sys.exit("chromium is not installed: ./dev.sh test installs it")
work = tempfile.mkdtemp(prefix="quorvane-browser-")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


# Logs with hostile names and a leech; lines end in LF so a CR stays inside a name.
canary = "window.quorvaneCanary=1"
hostile = [
    "<script>%s</script>" % canary,
    '"><img src=x onerror="%s">' % canary,
    "</style><svg onload=%s>" % canary,
    "javascript:%s" % canary,
    "line\u2028sep",
    "\u202etxt.exe",
    "W" * 10000,
    "tab\there",
    "amp &amp; lt &lt;",
]
down, up = [], []
for i, name in enumerate(hostile):
    down.append(("2026-0%d-1%d 10:00:00" % (1 + i % 3, i % 10), "10.0.0.%d" % i, name, name))
    up.append(("2026-01-2%d 09:00:00" % (i % 10), "10.0.0.%d" % i, name, "up/" + name))
for i in range(12):  # a leech: 12 downloads, no upload
    down.append(("2026-02-%02d 12:00:00" % (i + 1), "10.0.1.1", "leechy", "big file %d.zip" % (i % 4)))
down.append(("undated", "10.0.1.2", "Ann", "up/" + hostile[0]))


def write_log(path, rows):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("Date/Time\tAddress\tAccount\tName\tFile Name\n")
        for date, address, name, file in rows:
            f.write("\t".join([date, address, "acct", name, file]) + "\n")


logs = [os.path.join(work, "Download Log.txt"), os.path.join(work, "Upload Log.txt")]
write_log(logs[0], down)
write_log(logs[1], up)


def run(*args):
    return subprocess.run([report, *args, *logs], check=True, capture_output=True).stdout


page = os.path.join(work, "report.html")
with open(page, "wb") as f:
    f.write(run("--format", "html"))
users_csv = list(csv.reader(io.StringIO(run("--format", "csv").decode(), newline="")))
files_csv = list(csv.reader(io.StringIO(run("--format", "csv", "--files").decode(), newline="")))

# Chromium with the DevTools protocol on fds 3 (commands in) and 4 (replies out).
to_browser_r, to_browser_w = os.pipe()
from_browser_r, from_browser_w = os.pipe()
profile = os.path.join(work, "profile")


def preexec():
    os.dup2(to_browser_r, 3)
    os.dup2(from_browser_w, 4)


browser_log = open(os.path.join(work, "chromium.log"), "wb")
browser = subprocess.Popen(
    ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
     "--disable-background-networking", "--disable-component-update", "--disable-sync",
     "--user-data-dir=" + profile, "--remote-debugging-pipe", "--window-size=1280,900",
     "about:blank"],
    pass_fds=(3, 4), preexec_fn=preexec, stdout=browser_log, stderr=browser_log)
os.close(to_browser_r)
os.close(from_browser_w)
outbox = os.fdopen(to_browser_w, "wb")
inbox = os.fdopen(from_browser_r, "rb")
events = []
next_id = [0]


def send(method, session=None, **params):
    next_id[0] += 1
    message = {"id": next_id[0], "method": method, "params": params}
    if session:
        message["sessionId"] = session
    outbox.write(json.dumps(message).encode() + b"\0")
    outbox.flush()
    buffer = b""
    while True:
        chunk = inbox.read1(65536)
        if not chunk:
            raise SystemExit("chromium closed the pipe")
        buffer += chunk
        while b"\0" in buffer:
            raw, buffer = buffer.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == next_id[0]:
                if "error" in reply:
                    raise SystemExit("%s: %s" % (method, reply["error"]))
                return reply["result"]
            events.append(reply)


def give_up(signum, frame):
    methods = [e.get("method") for e in events][-10:]
    with open(os.path.join(work, "chromium.log"), "rb") as log:
        tail = log.read()[-3000:].decode(errors="replace")
    raise SystemExit("chromium did not answer in time; last events %r\n%s" % (methods, tail))


signal.signal(signal.SIGALRM, give_up)
signal.alarm(120)


def wait_for_load(session, url):
    # Polls gently: a renderer answering back-to-back protocol calls can starve the very task
    # that fires the load event, which is how a busy machine once waited out the alarm.
    while not any(e.get("method") == "Page.loadEventFired" for e in events):
        state = send("Runtime.evaluate", session, returnByValue=True,
                     expression="location.href + ' ' + document.readyState")
        if state["result"].get("value") == url + " complete":
            return
        time.sleep(0.1)


try:
    target = send("Target.createTarget", url="about:blank")["targetId"]
    session = send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
    for domain in ("Page", "Network", "Runtime", "Log"):
        send(domain + ".enable", session)
    send("Emulation.setDeviceMetricsOverride", session, width=1280, height=900,
         deviceScaleFactor=1, mobile=False)
    url = "file://" + page
    send("Page.navigate", session, url=url)
    wait_for_load(session, url)

    def js(expression):
        result = send("Runtime.evaluate", session, expression=expression, returnByValue=True)
        return result["result"].get("value")

    cells = "Array.from(document.querySelectorAll('#%s tbody tr')).map(r => " \
            "Array.from(r.cells).map(c => c.textContent))"
    heads = "Array.from(document.querySelectorAll('#%s thead th')).map(h => h.textContent)"
    for table, expected in (("users-table", users_csv), ("files-table", files_csv)):
        check(js(heads % table) == expected[0], table + " headers are the CSV's")
        rows = js(cells % table)
        check(len(rows) == len(expected) - 1, "%s has %d rows" % (table, len(expected) - 1))
        check(rows == expected[1:], table + " cells equal the CSV's")
    leeches = js("Array.from(document.querySelectorAll('tr.leech')).map(r => r.cells[0].textContent)")
    check(leeches == ["leechy"], "only leechy is marked a leech: %r" % leeches)

    # A click on "downloads" sorts most first, another reverses; "user" sorts by text.
    def column(index):
        return js("Array.from(document.querySelectorAll('#users-table tbody tr'))"
                  ".map(r => r.cells[%d].textContent)" % index)

    js("document.querySelector('#users-table th:nth-child(2) button').click()")
    counts = [int(v) for v in column(1)]
    check(counts == sorted(counts, reverse=True) and counts[0] == 12, "downloads sort most first")
    js("document.querySelector('#users-table th:nth-child(2) button').click()")
    counts = [int(v) for v in column(1)]
    check(counts == sorted(counts), "a second click sorts fewest first")
    js("document.querySelector('#users-table th:nth-child(1) button').click()")
    names = column(0)
    check(names == sorted(names), "user sorts by text")  # no name leaves the BMP
    check(sorted(names) == sorted(row[0] for row in users_csv[1:]), "sorting keeps every row")

    # Nothing but the page's own script ran; no dialog, no policy violation, nothing fetched.
    check(js("typeof window.quorvaneCanary") == "undefined", "the canary stayed silent")
    check(js("document.querySelectorAll('img, iframe, object, embed, a, link, form').length") == 0,
          "no element a name could have brought")
    check(all(name in js("document.body.textContent") for name in hostile[:6]),
          "hostile names show as their literal text")
    methods = [e.get("method") for e in events]
    check("Page.javascriptDialogOpening" not in methods, "no dialog opened")
    requests = [e["params"]["request"]["url"] for e in events
                if e.get("method") == "Network.requestWillBeSent"]
    check(requests == [url], "only the page itself was loaded: %r" % requests)
    logged = [e["params"]["entry"]["text"] for e in events if e.get("method") == "Log.entryAdded"]
    check(not logged, "nothing logged (a blocked style or script would be): %r" % logged)
    check(js("getComputedStyle(document.body).backgroundColor") == "rgb(246, 247, 249)",
          "the page's style applies")

    # The page as a visitor sees it, in both colour schemes.
    os.makedirs(out_dir, exist_ok=True)
    for scheme in ("light", "dark"):
        send("Emulation.setEmulatedMedia", session,
             features=[{"name": "prefers-color-scheme", "value": scheme}])
        js("window.scrollTo(0, 0)")
        shot = send("Page.captureScreenshot", session, format="png")["data"]
        with open(os.path.join(out_dir, "report-%s.png" % scheme), "wb") as f:
            f.write(base64.b64decode(shot))
        js("document.getElementById('files').scrollIntoView()")
        shot = send("Page.captureScreenshot", session, format="png")["data"]
        with open(os.path.join(out_dir, "report-%s-files.png" % scheme), "wb") as f:
            f.write(base64.b64decode(shot))
    check(js("getComputedStyle(document.body).backgroundColor") == "rgb(18, 21, 27)",
          "the dark scheme applies")
finally:
    browser.kill()
    browser.wait()
    shutil.rmtree(work, ignore_errors=True)

if failures:
    sys.exit("%d check(s) failed" % len(failures))
print("the page passed every check; screenshots in", out_dir)
