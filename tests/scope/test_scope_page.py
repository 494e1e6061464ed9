"""The scope's page in a real browser: it draws the trace, its controls reach
the card, and the figures it shows follow."""
import os

import pytest

from scope_client import Scope
from scpi_client import RawScpi


def shown_figure(browser, cell):
    """The figure in the cell, or None (also while the table is not built)."""
    value = browser.evaluate("(document.getElementById(%r) || {dataset: {}}).dataset.value || ''" % cell)
    return float(value) if value else None


def near(value, target, relative=1e-3):
    return value is not None and abs(value - target) <= relative * target


# Pixels of the canvas in a channel's colour: the trace is drawn.
TRACE_PIXELS = """(() => {
  const c = document.getElementById('trace');
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  let n = 0;
  for (let i = 0; i < d.length; i += 4) if (d[i] > 200 && d[i + 1] > 150 && d[i + 2] < 60) n++;
  return n;
})()"""


def set_control(browser, setting, value):
    """As a person does: a new value in the control, then its change event."""
    browser.evaluate("""(() => {
      const e = document.querySelector('[data-setting="%s"]');
      e.value = %r;
      e.dispatchEvent(new Event('change', {bubbles: true}));
    })()""" % (setting, value))


def test_the_page_draws_the_trace_and_follows_the_generator(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 3, "drawn records")
    browser.wait_for(lambda: browser.evaluate(TRACE_PIXELS) > 200, "the CH1 trace on the canvas")
    browser.wait_for(lambda: near(shown_figure(browser, "ch1-frequency"), 1000), "1 kHz shown for CH1")
    assert browser.evaluate("document.querySelector('[data-setting=\"generator.frequency\"]').value") == "1000"

    set_control(browser, "generator.frequency", "2500")
    browser.wait_for(lambda: near(shown_figure(browser, "ch1-frequency"), 2500), "2.5 kHz shown for CH1")
    assert scope.settings()["settings"]["generator"]["frequency"] == 2500
    shown = browser.evaluate("document.getElementById('ch1-frequency').textContent")
    assert shown.endswith(" kHz") and abs(float(shown.split()[0]) - 2.5) <= 0.0025, shown

    # A value the card refuses: the page says why, its control goes back,
    # and the view keeps running.
    set_control(browser, "ch1.dcLevel", "900")
    browser.wait_for(lambda: "ResultInvalidValue" in browser.evaluate("document.getElementById('status').textContent"),
                     "the refusal on the page")
    assert browser.evaluate("document.querySelector('[data-setting=\"ch1.dcLevel\"]').value") == "0"
    drawn = int(browser.evaluate("document.body.dataset.frames"))
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames")) > drawn + 3, "records after it")

    png = browser.screenshot(os.environ.get("RK350_SCOPE_SCREENSHOT", "scope-page.png"))
    assert png[:8] == b"\x89PNG\r\n\x1a\n" and len(png) > 10000


# Where the level line is now, in CSS pixels of the viewport: the plot's frame
# inside the canvas (as the page last drew it), read just before the press,
# since a line of status text above the canvas moves it.
LEVEL_LINE = """(() => {
  const c = document.getElementById('trace');
  const r = c.getBoundingClientRect();
  const p = JSON.parse(c.dataset.plot || 'null');
  if (!p || p.level === null) return null;
  return {left: r.left + p.left, top: r.top + p.top, width: p.width, height: p.height,
          range: p.levelScale, level: p.level};
})()"""


def test_the_trigger_level_is_dragged_on_the_canvas(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 3, "drawn records")
    target = 0.5

    def drag_started():
        box = browser.evaluate(LEVEL_LINE)
        if box is None:
            return None

        def y_of(volts):
            return box["top"] + box["height"] * (0.5 - volts / (2 * box["range"]))

        x = box["left"] + box["width"] * 0.7
        browser.call("Input.dispatchMouseEvent", type="mousePressed", x=x, y=y_of(box["level"]), button="left",
                     clickCount=1)
        if browser.evaluate("document.getElementById('trace').dataset.drag || ''") != "level":
            browser.call("Input.dispatchMouseEvent", type="mouseReleased", x=x, y=y_of(box["level"]), button="left",
                         clickCount=1)
            return None
        return x, y_of

    x, y_of = browser.wait_for(drag_started, "a drag from the level line")
    for volts in (0.1, 0.3, target):
        browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y_of(volts), button="left", buttons=1)
    browser.call("Input.dispatchMouseEvent", type="mouseReleased", x=x, y=y_of(target), button="left", clickCount=1)
    step = 2.0 / 128
    browser.wait_for(lambda: abs(scope.settings()["settings"]["trigger"]["level"] - target) <= step, "the new level")
    level = scope.settings()["settings"]["trigger"]["level"]
    browser.wait_for(lambda: browser.evaluate("document.querySelector('[data-setting=\"trigger.level\"]').value")
                     == str(level).rstrip("0").rstrip("."), "the level in its control")


def control(browser, setting):
    return browser.evaluate("document.querySelector('[data-setting=\"%s\"]').value" % setting)


def test_settings_posted_by_another_client_show_in_the_controls(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 3, "drawn records")
    # The lists come from the offer's settings table.
    options = browser.evaluate("[...document.querySelector('[data-setting=\"generator.type\"]').options]"
                               ".map((o) => o.value).join(',')")
    assert options == "sine,triangle,square,dc,noise,arbitrary"
    status, _ = scope.post({"generator": {"frequency": 3000, "type": "square"}, "trigger": {"slope": "falling"},
                            "samples": 4000})
    assert status == 200
    browser.wait_for(lambda: (control(browser, "generator.frequency"), control(browser, "generator.type"),
                              control(browser, "trigger.slope"), control(browser, "samples"))
                     == ("3000", "square", "falling", "4000"), "the other client's settings in the controls")
    # Stopped, no records come: the controls follow all the same.
    assert scope.post({"acquisition": "stop"})[0] == 200
    assert scope.post({"ch2": {"coupling": "ac"}})[0] == 200
    browser.wait_for(lambda: control(browser, "ch2.coupling") == "ac", "a change while stopped")


def test_a_slow_record_shows_its_wait_and_every_record_how_it_was_taken(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: "triggered" in browser.evaluate("document.getElementById('taken').textContent"),
                     "a triggered record")
    # 300 samples at 100 Hz of a 5 Hz sine: three seconds of card time a record.
    assert scope.post({"rate": 100, "samples": 300, "generator": {"frequency": 5}})[0] == 200
    shown = browser.wait_for(lambda: browser.evaluate("document.getElementById('run-shown').textContent"),
                             "the wait shown")
    assert shown.startswith("waiting for trigger: ") or shown.startswith("acquiring: "), shown
    # The record before stays on screen meanwhile.
    assert browser.evaluate(TRACE_PIXELS) > 200
    drawn = int(browser.evaluate("document.body.dataset.frames"))
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames")) > drawn, "the slow record")
    assert browser.evaluate("document.getElementById('taken').dataset.how") == "2"  # the samples' crossing
    # A level the signal never crosses: the record is forced by the time-out.
    assert scope.post({"rate": 1e6, "samples": 1000, "trigger": {"level": 1.5}, "generator": {"amplitude": 1}})[0] == 200
    browser.wait_for(lambda: "forced" in browser.evaluate("document.getElementById('taken').textContent"),
                     "a forced record said so")


# Another website's page, as an attacker would write it: every way a page may
# send without asking the server first, and a JSON request that needs its
# consent (a CORS preflight).
FOREIGN_PAGE = """<!doctype html><html><body><form id="f" method="POST" enctype="text/plain" target="sink">
<input name='{"acquisition": "stop", "x": "' value='"}'></form><iframe name="sink"></iframe><script>
window.attack = async (scope) => {
  const body = JSON.stringify({generator: {frequency: 4321}});
  const tries = [
    fetch(scope + 'api/settings', {method: 'POST', mode: 'no-cors', headers: {'Content-Type': 'text/plain'}, body}),
    fetch(scope + 'api/settings', {method: 'POST', mode: 'no-cors', body: new URLSearchParams({a: body})}),
    fetch(scope + 'api/settings', {method: 'POST', headers: {'Content-Type': 'application/json'}, body}),
    fetch(scope + 'api/settings').then(r => r.text()),
  ];
  const f = document.getElementById('f');
  f.action = scope + 'api/settings';
  f.submit();
  return (await Promise.allSettled(tries)).map(t => t.status + ':' + (t.value && t.value.type || t.value || ''));
};
</script></body></html>"""


class ForeignSite:
    """A website on another origin (another port of this machine)."""

    def __init__(self):
        import http.server
        import threading

        class Page(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                data = FOREIGN_PAGE.encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def test_another_website_cannot_drive_the_card_but_the_page_can(scope, browser):
    site = ForeignSite()
    try:
        browser.open(site.url)
        outcomes = browser.evaluate("window.attack(%r)" % scope.url)
        # Opaque answers (no-cors) and blocked ones; nothing reached the card.
        assert not any(o.startswith("fulfilled:{") for o in outcomes), outcomes
        # The form's navigation and every request have been answered by now.
        status, state = scope.request("GET", "/api/settings")
        assert status == 200
        assert state["settings"]["generator"]["frequency"] == 1000, outcomes
        assert state["settings"]["acquisition"] == "run" and state["version"] == 0
    finally:
        site.close()
    # The scope's own page still drives it.
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 1, "drawn records")
    set_control(browser, "generator.frequency", "2500")
    browser.wait_for(lambda: scope.settings()["settings"]["generator"]["frequency"] == 2500, "the page's setting")


def test_the_page_opened_from_the_printed_address_works_with_the_token(browser):
    scope = Scope("--listen", "127.0.0.1", "--allow-remote")
    try:
        assert "?token=" in scope.url
        browser.open(scope.url)  # the page keeps the token as a cookie for its own requests
        browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 1, "drawn records")
        set_control(browser, "generator.frequency", "2500")
        browser.wait_for(lambda: scope.request("GET", "/api/settings?token=" + scope.url.split("?token=")[1])[1]
                         ["settings"]["generator"]["frequency"] == 2500, "the page's setting")
    finally:
        assert scope.close() == 0


def test_single_ends_in_stop_on_the_buttons_and_the_rate_reads_zero(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 3, "drawn records")
    browser.evaluate("document.querySelector('[data-acquisition=\"single\"]').click()")
    active = "[...document.querySelectorAll('[data-acquisition].active')].map((b) => b.dataset.acquisition).join()"
    browser.wait_for(lambda: browser.evaluate(active) == "stop", "Stop lit after the single record")
    browser.wait_for(lambda: browser.evaluate("document.getElementById('rate-shown').textContent") == "0 records/s",
                     "no records per second while stopped")


def test_while_an_scpi_client_holds_the_lock_the_page_says_so(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 1, "drawn records")
    holder = RawScpi(scope.scpi_port)
    try:
        assert holder.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
        set_control(browser, "generator.frequency", "2500")
        browser.wait_for(lambda: "an SCPI client holds :SYSTem:LOCK" in
                         browser.evaluate("document.getElementById('status').textContent"), "the lock on the page")
        assert browser.evaluate("document.querySelector('[data-setting=\"generator.frequency\"]').value") == "1000"
        assert scope.settings()["settings"]["generator"]["frequency"] == 1000
    finally:
        holder.close()


# The window's own keys beside those of a blank page of the same origin (an
# empty frame the page opens for a moment).
LEAKED = """(() => {
  const blank = document.body.appendChild(document.createElement('iframe'));
  const known = new Set(Object.keys(blank.contentWindow));
  blank.remove();
  return Object.keys(window).filter((key) => !known.has(key));
})()"""


def test_the_page_is_modules_that_leave_no_globals(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 3, "drawn records")
    # Modules have no global scope; a classic script would (and its constants
    # would not even show among the window's keys).
    assert browser.evaluate("[...document.scripts].map((s) => s.type)") == ["module"]
    assert browser.evaluate(LEAKED) == []
    # The check sees a name a script leaves behind.
    browser.evaluate("window.leftBehind = 1")
    assert browser.evaluate(LEAKED) == ["leftBehind"]


def test_the_controls_come_from_the_offer_and_the_title_stays_on_one_line(scope, browser):
    offer = scope.request("GET", "/api/offer")[1]
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 1, "drawn records")
    controls = browser.evaluate("""Object.fromEntries([...document.querySelectorAll('[data-setting]')].map((e) =>
      [e.dataset.setting, {tag: e.tagName, type: e.type, min: e.min, max: e.max, help: e.closest('label').title}]))""")
    assert set(controls) == {row["key"] for row in offer["settings"]}
    for row in offer["settings"]:
        control = controls[row["key"]]
        assert control["help"] == row["help"], row["key"]
        if control["type"] == "number":
            assert float(control["min"] or "nan") == pytest.approx(row.get("lowest", float("nan")), nan_ok=True)
            if "highest" in row:
                assert float(control["max"]) == row["highest"], row["key"]
    # The table's limits, not the page's own: averaging takes up to 100,000 records.
    assert controls["average"]["max"] == "100000"
    assert controls["samples"]["max"] == str(offer["maxSamples"])
    # At 1,400 px the header is one line: every item at the same height, the title unbroken.
    line = browser.evaluate("""(() => {
      const items = [...document.querySelector('header').children].map((e) => e.getBoundingClientRect());
      const title = document.querySelector('header h1');
      return {tops: items.map((r) => Math.round(r.top + r.height / 2)), title: title.getClientRects().length,
              height: title.getBoundingClientRect().height, lineHeight: parseFloat(getComputedStyle(title).lineHeight)};
    })()""")
    assert max(line["tops"]) - min(line["tops"]) <= 2, line
    assert line["title"] == 1 and line["height"] < 1.5 * line["lineHeight"], line


# The widths of the square's edges half-way up, in device pixels of the
# trace's plot: each run of CH1's colour on the row at `middle`, called
# rising when the colour lies at `high` just right of it.
EDGE_WIDTHS = """((middle, high) => {
  const c = document.getElementById('trace');
  const p = JSON.parse(c.dataset.plot);
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  const ch1 = (x, y) => {
    const i = 4 * (Math.round(y) * c.width + x);
    return d[i] > 200 && d[i + 1] > 150 && d[i + 2] < 60;
  };
  const edges = {rising: [], falling: []};
  const last = Math.floor((p.left + p.width) * devicePixelRatio) - 8;
  for (let x = Math.ceil(p.left * devicePixelRatio) + 8; x < last; x++) {
    if (!ch1(x, middle)) continue;
    let end = x;
    while (end < last && ch1(end + 1, middle)) end++;
    edges[ch1(end + 4, high) ? 'rising' : 'falling'].push(end - x + 1);
    x = end;
  }
  return edges;
})"""


def test_rising_and_falling_edges_of_a_square_are_drawn_alike(scope, browser):
    # 5,000 samples over about 1,100 pixel columns: each column drawn from its
    # lowest to its highest sample. A rising edge is one stroke, as wide as
    # a falling one, without a stroke back across it.
    assert scope.post({"generator": {"type": "square", "amplitude": 0.8, "frequency": 2000}})[0] == 200
    browser.open(scope.url)
    browser.wait_for(lambda: near(shown_figure(browser, "ch1-peakToPeak"), 1.6, 0.03), "the square's record")
    browser.wait_for(lambda: browser.evaluate("document.getElementById('trace').dataset.shown === "
                                              "document.body.dataset.shownSequence"), "the square drawn")
    box = browser.evaluate("""(() => { const p = JSON.parse(document.getElementById('trace').dataset.plot);
      return {top: p.top * devicePixelRatio, height: p.height * devicePixelRatio, scale: p.cursorScale}; })()""")

    def y(volts):
        return box["top"] + box["height"] * (0.5 - volts / (2 * box["scale"]))
    edges = browser.evaluate(EDGE_WIDTHS + "(%f, %f)" % (y(0.4), y(0.8)))
    # 5 ms of a 2 kHz square: ten edges of each kind.
    assert len(edges["rising"]) >= 9 and len(edges["falling"]) >= 9, edges
    assert max(edges["rising"]) <= min(edges["falling"]) + 1, edges
    browser.screenshot(os.path.join(os.path.dirname(os.environ.get("RK350_SCOPE_SCREENSHOT", "./x")), "square.png"))
