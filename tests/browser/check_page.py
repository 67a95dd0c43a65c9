#!/usr/bin/env python3
"""Loads quorvane-report's HTML pages in headless Chromium and checks them from the DOM.

Usage: check_page.py QUORVANE_REPORT OUT_DIR

Makes hostile logs, a classic pair and a Mobius log, writes a page and the CSVs of each, opens
each page through the DevTools protocol on a pipe (no port, no Node) and checks: headings in
words, users by downloads most first, both tables equal the CSVs cell for cell (a server's paths
relative to the folder they share, which the page never shows), leeches are marked, a header
click re-sorts, no script but the page's own runs (a canary in the names), no dialog opens, no
policy is violated, nothing is fetched; on a 390-pixel phone nothing but the tables scrolls
sideways and the chart's labels keep their size without overlapping. Then screenshots, light and
dark, at 1280x900 and 390x844 into OUT_DIR.
"""
import base64, csv, datetime, io, json, os, shutil, signal, subprocess, sys, tempfile, time

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


classic = [os.path.join(work, "Download Log.txt"), os.path.join(work, "Upload Log.txt")]
write_log(classic[0], down)
write_log(classic[1], up)


# Go's quoting as Mobius writes a value (always quoted here, which a reader must take too).
def go_quoted(text):
    out = ""
    for c in text:
        if c in '"\\':
            out += "\\" + c
        elif c in "\n\t\r":
            out += {"\n": "\\n", "\t": "\\t", "\r": "\\r"}[c]
        elif ord(c) < 0x20 or ord(c) == 0x7F:
            out += "\\x%02x" % ord(c)
        elif c in "\u2028\u202e":
            out += "\\u%04x" % ord(c)
        else:
            out += c
    return '"' + out + '"'


server_root = "/srv/mobius/Files/"
mobius = os.path.join(work, "mobius.log")
with open(mobius, "w", encoding="utf-8", newline="") as f:
    for rows, message, key in ((down, "Download file", "filePath"),
                               (up, "File upload complete", "dstFile")):
        for date, address, name, file in rows:
            when = "2026-01-01T00:00:00Z" if date == "undated" else date.replace(" ", "T") + "Z"
            f.write("time=%s level=INFO msg=%s remoteAddr=%s:5000 login=acct Name=%s %s=%s\n" % (
                when, go_quoted(message), address, go_quoted(name), key,
                go_quoted(server_root + ("Apps/" if rows is down else "Uploads/") + file)))


def shared_root(paths):
    """The longest run of whole folders every path starts with, each path keeping a name."""
    folders = [p.split("/")[:-1] for p in paths if p]
    common = []
    for parts in zip(*folders):
        if any(part != parts[0] for part in parts):
            break
        common.append(parts[0])
    return "/".join(common) + "/" if any(common) else ""


def make_page(name, logs):
    def run(*args):
        return subprocess.run([report, *args, *logs], check=True, capture_output=True).stdout

    page = os.path.join(work, name + ".html")
    with open(page, "wb") as f:
        f.write(run("--format", "html"))
    users = list(csv.reader(io.StringIO(run("--format", "csv").decode(), newline="")))
    files = list(csv.reader(io.StringIO(run("--format", "csv", "--files").decode(), newline="")))
    return page, users, files


pages = [("classic", *make_page("classic", classic)),
         ("mobius", *make_page("mobius", ["--log", mobius]))]

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


headings = {"users-table": ["User", "Downloads", "Uploads", "Ratio", "Credit", "Addresses",
                             "First seen", "Last seen"],
            "files-table": ["File", "Downloads", "Downloaders", "Uploads", "First uploader",
                            "First download", "Last download"]}
try:
    target = send("Target.createTarget", url="about:blank")["targetId"]
    session = send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
    for domain in ("Page", "Network", "Runtime", "Log"):
        send(domain + ".enable", session)

    def js(expression):
        result = send("Runtime.evaluate", session, expression=expression, returnByValue=True)
        return result["result"].get("value")

    def screen(width, height, scheme):
        send("Emulation.setDeviceMetricsOverride", session, width=width, height=height,
             deviceScaleFactor=1, mobile=width < 600)
        send("Emulation.setEmulatedMedia", session,
             features=[{"name": "prefers-color-scheme", "value": scheme}])

    def shoot(name):
        shot = send("Page.captureScreenshot", session, format="png")["data"]
        with open(os.path.join(out_dir, name + ".png"), "wb") as f:
            f.write(base64.b64decode(shot))

    os.makedirs(out_dir, exist_ok=True)
    cells = "Array.from(document.querySelectorAll('#%s tbody tr')).map(r => " \
            "Array.from(r.cells).map(c => c.textContent))"
    heads = "Array.from(document.querySelectorAll('#%s thead th')).map(h => h.textContent)"
    for kind, page, users_csv, files_csv in pages:
        del events[:]
        screen(1280, 900, "light")
        url = "file://" + page
        send("Page.navigate", session, url=url)
        wait_for_load(session, url)

        # Users by downloads, most first (equals in the CSV's order); files as the CSV has them,
        # a server's paths without the folder they all share.
        by_downloads = sorted(users_csv[1:], key=lambda row: -int(row[1]))
        root = shared_root([row[0] for row in files_csv[1:]])
        check((root == server_root) == (kind == "mobius"), "%s: shared root %r" % (kind, root))
        relative = [[row[0][len(root):]] + row[1:] for row in files_csv[1:]]
        for table, expected in (("users-table", by_downloads), ("files-table", relative)):
            check(js(heads % table) == headings[table], "%s: %s headings" % (kind, table))
            rows = js(cells % table)
            check(len(rows) == len(expected), "%s: %s has %d rows" % (kind, table, len(expected)))
            check(rows == expected, "%s: %s cells equal the CSV's" % (kind, table))
        check(root == "" or root not in js("document.documentElement.outerHTML"),
              kind + ": the page never shows the shared root")
        leeches = js("Array.from(document.querySelectorAll('tr.leech'))"
                     ".map(r => r.cells[0].textContent)")
        check(leeches == ["leechy"], "%s: only leechy is marked a leech: %r" % (kind, leeches))

        # A click on "Downloads" sorts most first, another reverses; "User" sorts by text.
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
        check(js("typeof window.quorvaneCanary") == "undefined", kind + ": the canary stayed silent")
        check(js("document.querySelectorAll('img, iframe, object, embed, a, link, form').length")
              == 0, kind + ": no element a name could have brought")
        check(all(name in js("document.body.textContent") for name in hostile[:6]),
              kind + ": hostile names show as their literal text")
        methods = [e.get("method") for e in events]
        check("Page.javascriptDialogOpening" not in methods, kind + ": no dialog opened")
        requests = [e["params"]["request"]["url"] for e in events
                    if e.get("method") == "Network.requestWillBeSent"]
        check(requests == [url], "%s: only the page itself was loaded: %r" % (kind, requests))
        logged = [e["params"]["entry"]["text"] for e in events
                  if e.get("method") == "Log.entryAdded"]
        check(not logged, "%s: nothing logged (a blocked style or script would be): %r" % (
            kind, logged))
        check(js("getComputedStyle(document.body).backgroundColor") == "rgb(246, 247, 249)",
              kind + ": the page's style applies")

        # The page as a visitor sees it, on a desk and on a phone, in both colour schemes. On the
        # phone the page itself never scrolls sideways (the tables do, in their boxes), and the
        # chart's shown labels are legible, inside the chart and apart.
        for width, height in ((1280, 900), (390, 844)):
            for scheme in ("light", "dark"):
                screen(width, height, scheme)
                js("window.scrollTo(0, 0)")
                shoot("report-%s-%d-%s" % (kind, width, scheme))
                js("document.getElementById('files').scrollIntoView()")
                shoot("report-%s-%d-%s-files" % (kind, width, scheme))
            check(js("getComputedStyle(document.body).backgroundColor") == "rgb(18, 21, 27)",
                  kind + ": the dark scheme applies")
            check(js("document.documentElement.scrollWidth") <= width,
                  "%s at %d px: the page does not scroll sideways" % (kind, width))
            labels = js("""Array.from(document.querySelectorAll('.chart text'))
                .filter(t => getComputedStyle(t).display != 'none')
                .map(t => { const r = t.getBoundingClientRect();
                            return [r.left, r.right, parseFloat(getComputedStyle(t).fontSize),
                                    t.closest('svg').classList.contains('bars')]; })""")
            box = js("(r => [r.left, r.right])("
                     "document.querySelector('.chart').getBoundingClientRect())")
            dates = sorted(label for label in labels if label[3])
            check(len(dates) >= 2 and all(label[2] >= 11 for label in labels),
                  "%s at %d px: %d date labels, all legible" % (kind, width, len(dates)))
            check(all(box[0] <= label[0] and label[1] <= box[1] for label in labels),
                  "%s at %d px: the chart's labels stay in the chart" % (kind, width))
            check(all(a[1] < b[0] for a, b in zip(dates, dates[1:])),
                  "%s at %d px: the date labels do not overlap: %r" % (kind, width, dates))
        if width == 390:
            check(js("Array.from(document.querySelectorAll('.scroll'))"
                     ".every(s => s.scrollWidth > s.clientWidth)"),
                  kind + ": on a phone the tables scroll within their boxes")

    # The chart's arithmetic on pages made for it: the scale at each step of 1, 2 and 5 (its top
    # the least four such steps that hold the largest bar, the ticks written here by hand), one
    # bar, the most bars a day step takes and one day more, a period with nothing in it, and no
    # dated transfer at all. Each bar's title and height are checked against counts made here.
    def open_page(page):
        del events[:]
        send("Page.navigate", session, url="file://" + page)
        wait_for_load(session, "file://" + page)

    def day(n):
        return datetime.date(2026, 1, 1) + datetime.timedelta(days=n)

    def chart_case(name, downloads, uploads=(), args=()):
        rows = {0: [], 1: []}
        for side, counts in ((0, downloads), (1, uploads)):
            for n, count in enumerate(counts):
                rows[side] += [(day(n).isoformat() + " 10:00:00", "10.0.0.1", "u", "f")] * count
        paths = [os.path.join(work, "%s-%d.txt" % (name, side)) for side in (0, 1)]
        for side in (0, 1):
            write_log(paths[side], rows[side] or [("undated", "10.0.0.1", "u", "f")])
        page = os.path.join(work, name + ".html")
        with open(page, "wb") as f:
            f.write(subprocess.run([report, "--format", "html", *args, *paths], check=True,
                                   capture_output=True).stdout)
        open_page(page)
        return js("""[document.querySelector('#activity h2').textContent,
            Array.from(document.querySelectorAll('.scale text')).map(t => t.textContent),
            Array.from(document.querySelectorAll('.bars g')).map(g => [g.querySelector('title')
                .textContent].concat(Array.from(g.querySelectorAll('rect')).map(r => {
                  const b = r.getBoundingClientRect(), s = r.closest('svg').getBoundingClientRect();
                  return [b.left - s.left, b.right - s.left, s.bottom - b.bottom - 24, b.height,
                          s.width]; }))),
            Array.from(document.querySelectorAll('.bars text')).map(t => t.textContent),
            document.querySelector('#activity').textContent]""")

    screen(1280, 900, "light")
    daily = lambda counts: {day(n): c for n, c in enumerate(counts)}
    cases = [  # name, downloads and uploads per day from 2026-01-01, the scale's ticks
        ("one", [1], [], "0 1 2 3 4"), ("four", [4, 0, 3], [1, 4], "0 1 2 3 4"),
        ("five", [5], [2], "0 2 4 6 8"), ("eight", [2, 8], [], "0 2 4 6 8"),
        ("nine", [3], [0, 9], "0 5 10 15 20"), ("twenty", [20], [20], "0 5 10 15 20"),
        ("twenty-one", [21, 1], [], "0 10 20 30 40"), ("forty-one", [41], [1], "0 20 40 60 80"),
        ("thousand", [801, 0, 1], [800], "0 500 1,000 1,500 2,000"),
        ("most-days", [1 + n % 3 for n in range(120)], [n % 2 for n in range(120)], "0 1 2 3 4"),
        ("weeks", [1] * 121, [], "0 2 4 6 8")]
    for name, downloads, uploads, ticks in cases:
        heading, scale, bars, labels, _ = chart_case(name, downloads, uploads)
        by_week = len(downloads) > 120
        check(heading == "Activity per " + ("week" if by_week else "day"), name + ": " + heading)
        check(scale == ticks.split(), "%s: the scale reads %r" % (name, scale))
        top = int(ticks.split()[-1].replace(",", ""))
        expected = {}  # first day of the bar: [downloads, uploads]
        for side, counts in ((0, daily(downloads)), (1, daily(uploads))):
            for d, count in counts.items():
                first = d - datetime.timedelta(days=d.weekday()) if by_week else d
                expected.setdefault(first, [0, 0])[side] += count
        firsts = sorted(expected)
        check(len(bars) == len(firsts), "%s: %d bars for %d" % (name, len(bars), len(firsts)))
        for i, (title, d_rect, u_rect) in enumerate(bars[:len(firsts)]):
            first, (down_n, up_n) = firsts[i], expected[firsts[i]]
            span = first.isoformat() + (" to %s" % (first + datetime.timedelta(days=6))
                                        if by_week else "")
            words = "%d download%s, %d upload%s" % (down_n, "" if down_n == 1 else "s", up_n,
                                                     "" if up_n == 1 else "s")
            check(title == span + ": " + words, "%s: bar %d reads %r" % (name, i, title))
            slot = d_rect[4] / len(firsts)
            for rect, value in ((d_rect, down_n), (u_rect, up_n)):
                # 208 pixels from the baseline to the top tick; whole pixels, rounded down.
                check(abs(rect[2]) < 0.01 and value * 208 / top - 1 < rect[3] <= value * 208 / top,
                      "%s: bar %d is %r high for %d of %d" % (name, i, rect[3], value, top))
                check(i * slot - 0.01 <= rect[0] < rect[1] <= (i + 1) * slot + 0.01,
                      "%s: bar %d from %r to %r outside its slot" % (name, i, rect[0], rect[1]))
            check(d_rect[1] <= u_rect[0] + 0.01, "%s: bar %d's rects overlap" % (name, i))
        every = max(1, (len(firsts) + 7) // 8)
        check(labels == [d.isoformat() for d in firsts[::every]], "%s: labels %r" % (name, labels))
    # A period with no transfer keeps its (empty) days; no dated transfer at all, no chart.
    heading, scale, bars, labels, _ = chart_case("empty", [0, 2], [1], ["--from", "2026-02-01",
                                                                        "--to", "2026-02-03"])
    check(scale == "0 1 2 3 4".split() and len(bars) == 3 and
          all(rect[3] == 0 for bar in bars for rect in bar[1:]) and
          labels == ["2026-02-01", "2026-02-02", "2026-02-03"],
          "empty period: %r %r %r" % (scale, bars, labels))
    heading, scale, bars, labels, text = chart_case("undated", [], [])
    check(scale == [] and bars == [] and text.strip().endswith("No dated transfers to chart."),
          "undated: " + text)

    # The tables sort stably: equal keys keep the order they had before the click, a second
    # click turns only the unequal ones round; counts and ratios (no upload above every ratio)
    # sort by value, so 10 comes above 9.
    sort_down = [("2026-01-01 10:00:00", "10.0.0.%d" % i, name, "f")
                 for i, (name, n) in enumerate([("c", 10), ("d", 9), ("b", 2), ("a", 2), ("g", 9)])
                 for _ in range(n)]
    sort_up = [("2026-01-02 10:00:00", "10.0.1.%d" % i, name, "u")
               for i, name in enumerate(["c", "b", "a", "e", "g", "g"])]
    sort_logs = [os.path.join(work, "sort-%d.txt" % side) for side in (0, 1)]
    write_log(sort_logs[0], sort_down)
    write_log(sort_logs[1], sort_up)
    page = make_page("sort", sort_logs)[0]
    open_page(page)
    ratio = {"c": 10, "d": float("inf"), "b": 2, "a": 2, "e": 0, "g": 4.5}
    downloads = {"c": 10, "d": 9, "b": 2, "a": 2, "e": 0, "g": 9}
    order = column(0)
    for header, key, reverse in ((2, downloads, True), (2, downloads, False),
                                 (4, ratio, True), (4, ratio, False), (4, ratio, True),
                                 (1, None, False), (1, None, True)):
        js("document.querySelector('#users-table th:nth-child(%d) button').click()" % header)
        order = sorted(order, key=key.get if key else None, reverse=reverse)
        check(column(0) == order, "sort by column %d: %r, not %r" % (header, column(0), order))
finally:
    browser.kill()
    browser.wait()
    shutil.rmtree(work, ignore_errors=True)

if failures:
    sys.exit("%d check(s) failed" % len(failures))
print("the pages passed every check; screenshots in", out_dir)
