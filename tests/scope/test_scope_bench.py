"""The page's bench views in a real browser: zoom and cursors over the record,
the spectrum with its peak, XY, the CH1-CH2 trace, the measurement panel and
its statistics, a user waveform sent from the page; the view survives a
reload. Screenshots go where RK350_SCOPE_SCREENSHOTS says."""
import json
import os

import pytest

from browser import Browser

SHOTS = os.environ.get("RK350_SCOPE_SCREENSHOTS", ".")


@pytest.fixture
def browser():
    b = Browser()
    yield b
    b.close()


def shown(browser):
    return int(browser.evaluate("document.body.dataset.benchShown || 0"))


def choose(browser, element, value):
    browser.evaluate("""(() => {
      const e = document.getElementById(%r);
      if (e.type === 'checkbox') e.checked = %s; else e.value = %r;
      e.dispatchEvent(new Event('change', {bubbles: true}));
    })()""" % (element, "true" if value is True else "false", value))


def shot(browser, name):
    browser.evaluate("document.getElementById('bench-section').scrollIntoView()")
    browser.screenshot(os.path.join(SHOTS, name))


def redrawn(browser):
    before = shown(browser)
    browser.wait_for(lambda: shown(browser) > before, "a new record in the bench view")


def wheel(browser, delta, fraction=0.5):
    """The wheel over the bench canvas, at `fraction` of its width."""
    browser.evaluate("""(() => {
      const c = document.getElementById('bench');
      const r = c.getBoundingClientRect();
      c.dispatchEvent(new WheelEvent('wheel', {deltaY: %d, clientX: r.left + r.width * %f, clientY: r.top + r.height / 2,
                                               bubbles: true, cancelable: true}));
    })()""" % (delta, fraction))


def test_bench_views_cursors_zoom_spectrum_xy(scope, browser):
    scope.post({"ch2": {"on": True, "source": "sine:0.5:1000:0"}})
    browser.open(scope.url)
    browser.evaluate("localStorage.clear()")
    browser.open(scope.url)
    browser.wait_for(lambda: shown(browser) > 0, "the bench view drawn")

    # Zoom in four wheel steps around the middle: a bit over 40 % of the record.
    for _ in range(4):
        wheel(browser, -100)
    view = json.loads(browser.evaluate("localStorage.getItem('rk350.bench')"))
    assert view["end"] - view["start"] == pytest.approx(0.8 ** 4, rel=1e-6)
    # Around the pointer: the plot starts a little right of the canvas's edge.
    assert view["start"] == pytest.approx(0.5 - 0.8 ** 4 / 2, abs=0.02)
    # The cursors: 25 % and 75 % of the 5000-sample record at 1 MHz: 2.5 ms.
    redrawn(browser)
    assert float(browser.evaluate("document.getElementById('bench-readout').dataset.dt")) == pytest.approx(2.5e-3)
    assert float(browser.evaluate("document.getElementById('bench-readout').dataset.dv")) == pytest.approx(-1.0)
    choose(browser, "bench-math", True)
    redrawn(browser)
    shot(browser, "bench-time-cursors.png")

    # The view, zoom and math trace survive a reload.
    browser.open(scope.url)
    browser.wait_for(lambda: shown(browser) > 0, "the bench view drawn again")
    assert browser.evaluate("document.getElementById('bench-math').checked") is True
    again = json.loads(browser.evaluate("localStorage.getItem('rk350.bench')"))
    assert again["start"] == pytest.approx(view["start"])

    # The spectrum: the 1 kHz sine (1 V peak = -3 dBV) is the peak, within a bin.
    choose(browser, "bench-mode", "fft")
    redrawn(browser)
    readout = "document.getElementById('bench-readout').dataset"
    assert float(browser.evaluate(readout + ".ch1PeakHz")) == pytest.approx(1000, abs=1e6 / 4096)
    assert float(browser.evaluate(readout + ".ch1PeakDbv")) == pytest.approx(-3.0, abs=1.5)
    choose(browser, "bench-window", "flattop")
    redrawn(browser)
    assert float(browser.evaluate(readout + ".ch1PeakDbv")) == pytest.approx(-3.0, abs=0.1)  # flat top: exact level
    shot(browser, "bench-spectrum.png")

    # XY: a point for each position where both channels hold a sample.
    choose(browser, "bench-mode", "xy")
    redrawn(browser)
    assert int(browser.evaluate(readout + ".points")) == 5000
    shot(browser, "bench-xy.png")


def test_measurement_panel_statistics_and_reset(scope, browser):
    browser.open(scope.url)
    count = "(document.querySelector('[data-key=\"CH1-frequency\"]') || {dataset: {}}).dataset.count"
    # The statistics cover the last 100 records; a reset starts them again.
    browser.wait_for(lambda: int(browser.evaluate(count + " || 0") or 0) == 100, "statistics over 100 records")
    text = browser.evaluate("document.querySelector('[data-key=\"CH1-frequency\"]').textContent")
    assert "kHz" in text
    browser.evaluate("document.getElementById('measurements-reset').click()")
    browser.wait_for(lambda: int(browser.evaluate(count + " || 0") or 0) < 100, "statistics started again")
    shot(browser, "bench-measurements.png")


def test_user_waveform_from_the_page_and_the_json_api(scope, browser, tmp_path):
    # Over the JSON API: 100 points of a ramp at 1 kHz ask a 100 kHz sample
    # clock; the virtual card runs 78.125 kHz, so the ramp repeats at 781.25 Hz.
    ramp = "\n".join(str(-1 + 2 * i / 99) for i in range(100))
    status, answer = scope.request("POST", "/api/generator/waveform", {"file": ramp, "frequency": 1000})
    assert status == 200, answer
    assert answer["reached"]["arbitraryPoints"] == 100
    assert answer["reached"]["generatorFrequency"] == pytest.approx(781.25)
    assert answer["settings"]["generator"]["type"] == "arbitrary"
    status, answer = scope.request("POST", "/api/generator/waveform", {"file": "1\nvolts?\n"})
    assert status == 400 and "line 2" in answer["error"]

    # From the page: a file of times and volts, one period of 2 ms.
    path = tmp_path / "square.csv"
    path.write_text("time_s,volts\n" + "\n".join(f"{i * 1e-5},{0.8 if i < 100 else -0.8}" for i in range(200)))
    browser.open(scope.url)
    browser.wait_for(lambda: shown(browser) > 0, "the page")
    browser.call("DOM.enable")
    node = browser.call("DOM.getDocument")["root"]["nodeId"]
    file_input = browser.call("DOM.querySelector", nodeId=node, selector="#waveform-file")["nodeId"]
    browser.call("DOM.setFileInputFiles", nodeId=file_input, files=[str(path)])
    browser.evaluate("document.getElementById('waveform-send').click()")
    result = "document.getElementById('waveform-result')"
    browser.wait_for(lambda: browser.evaluate(result + ".dataset.running || ''") != "", "the card's answer")
    assert float(browser.evaluate(result + ".dataset.running")) == pytest.approx(500, rel=1e-3)
    frame = scope.request("GET", "/api/record")[1]
    figures = frame["channels"][0]["figures"]
    assert figures["dutyCycle"] == pytest.approx(50, abs=1)
    assert figures["maximum"] == pytest.approx(0.8, abs=0.02)
