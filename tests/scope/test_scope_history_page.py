"""The page steps back through the records the scope keeps (--history N):
older, newer and live, each kept record shown with its number, time and how
it was triggered, the live view held meanwhile and resumed on demand."""
import re

import pytest

from scope_client import Scope


def shown(browser):
    return int(browser.evaluate("document.body.dataset.shownSequence || 0"))


def click(browser, element_id):
    browser.evaluate("document.getElementById(%r).click()" % element_id)


def history(scope):
    status, answer = scope.request("GET", "/api/history")
    assert status == 200
    return answer["records"]


def test_the_page_steps_through_the_kept_records_and_back_to_live(browser):
    scope = Scope("--history", "8")
    try:
        browser.open(scope.url)
        browser.wait_for(lambda: len(history(scope)) == 8 and shown(browser) > 8, "eight kept records drawn")
        assert browser.evaluate("document.getElementById('history').hidden") is False
        # Stopped: the page shows the newest record, and steps back from it.
        assert scope.post({"acquisition": "stop"})[0] == 200
        newest = history(scope)[-1]["sequence"]
        browser.wait_for(lambda: shown(browser) == newest, "the newest record shown")
        by_number = {r["sequence"]: r for r in history(scope)}

        for expected, button in ((newest - 1, "history-older"), (newest - 2, "history-older"),
                                 (newest - 1, "history-newer")):
            click(browser, button)
            browser.wait_for(lambda: shown(browser) == expected, "record %d shown" % expected)
            label = browser.evaluate("document.getElementById('history-shown').textContent")
            entry = by_number[expected]
            assert label.startswith("record %d of %d–%d · " % (expected, newest - 7, newest)), label
            assert re.search(r"· \d\d:\d\d:\d\d\.\d\d\d · ", label), label
            assert label.endswith(entry["status"]), label
            # The figures, the note on how it was taken and the downloads are that record's.
            taken = browser.evaluate("document.getElementById('taken').textContent")
            assert taken == "record %d: %s" % (expected, entry["taken"])
            links = browser.evaluate("[...document.querySelectorAll('a[download]')].map((a) => a.getAttribute('href'))")
            assert all(link.endswith("?sequence=%d" % expected) for link in links), links
        assert browser.evaluate("document.getElementById('history-live').classList.contains('active')") is False

        # Running again: the kept record stays on screen while new ones come.
        assert scope.post({"acquisition": "run"})[0] == 200
        browser.wait_for(lambda: history(scope)[-1]["sequence"] > newest + 3, "new records")
        assert shown(browser) == newest - 1
        click(browser, "history-live")
        browser.wait_for(lambda: shown(browser) > newest + 3, "the live view again")
        assert browser.evaluate("document.getElementById('history-shown').textContent") == ""
        links = browser.evaluate("[...document.querySelectorAll('a[download]')].map((a) => a.getAttribute('href'))")
        assert links == ["/api/record.csv", "/api/record.sr"]

        # Past the oldest kept there is nothing older: the page says so and stays.
        assert scope.post({"acquisition": "stop"})[0] == 200
        oldest = history(scope)[0]["sequence"]
        browser.wait_for(lambda: shown(browser) == history(scope)[-1]["sequence"], "the newest record shown")
        for _ in range(8):
            click(browser, "history-older")
        browser.wait_for(lambda: shown(browser) == oldest, "the oldest kept record")
        browser.wait_for(lambda: "no older record is kept" in browser.evaluate(
            "document.getElementById('status').textContent"), "the word that nothing older is kept")
        assert shown(browser) == oldest
    finally:
        assert scope.close() == 0


def test_without_history_the_page_offers_no_stepping(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: shown(browser) > 1, "drawn records")
    assert browser.evaluate("document.getElementById('history').hidden") is True
    assert browser.evaluate("getComputedStyle(document.getElementById('history')).display") == "none"
