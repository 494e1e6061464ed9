"""The scope's page in a real browser: it draws the trace, its controls reach
the card, and the figures it shows follow."""
import os

import pytest

from browser import Browser
from scope_client import Scope
from scpi_client import RawScpi


@pytest.fixture
def browser():
    b = Browser()
    yield b
    b.close()


def shown_figure(browser, cell):
    value = browser.evaluate("document.getElementById(%r).dataset.value || ''" % cell)
    return float(value) if value else None


def near(value, target):
    return value is not None and abs(value - target) <= 1e-3 * target


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
