#!/usr/bin/env bash
# The capture tool's files when it runs as root (the hardware flavour runs
# with sudo): a link another user planted under the output's name is not
# followed, a replaced file keeps its mode and owner, and the temporaries a
# killed run left are removed by the next run. Needs root (files of another
# user are made with chown).
set -euo pipefail
capture=$1
if [ "$(id -u)" -ne 0 ]; then
  # As scripts/install-deps.sh does: root through sudo where it is at hand.
  if sudo -n true 2>/dev/null; then exec sudo -n "$0" "$@"; fi
  echo "FAIL: this check makes files of another user and needs root (or sudo without a password)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 1777 "$work" # a shared directory, as /tmp
other=65534
fail() {
  echo "FAIL: $*"
  exit 1
}
csv() { "$capture" --quiet --no-plot --csv "$1" >/dev/null 2>"$work/err.txt"; }

echo "== a link another user planted is refused, its target untouched"
printf 'secret\n' >"$work/victim"
chown "$other:$other" "$work/victim"
chmod 600 "$work/victim"
ln -s victim "$work/planted.csv"
chown -h "$other:$other" "$work/planted.csv"
status=0
csv "$work/planted.csv" || status=$?
[ "$status" -eq 3 ] || fail "status $status writing through another user's link"
grep -q "symbolic link of another user" "$work/err.txt" || fail "no reason given: $(cat "$work/err.txt")"
[ "$(cat "$work/victim")" = secret ] || fail "the link's target was replaced"
[ "$(stat -c '%a %u' "$work/victim")" = "600 $other" ] || fail "the target's mode or owner changed"
[ -L "$work/planted.csv" ] || fail "the link was replaced"
[ -z "$(find "$work" -name '.*tmp-*')" ] || fail "a temporary was left"

echo "== the caller's own link is followed; the file keeps mode and owner"
ln -s victim "$work/own.csv"
csv "$work/own.csv"
head -c 200 "$work/victim" | grep -q "," || fail "the file the link names was not written"
[ "$(stat -c '%a %u' "$work/victim")" = "600 $other" ] || fail "mode/owner not kept: $(stat -c '%a %u' "$work/victim")"
[ -L "$work/own.csv" ] || fail "the link was replaced"

echo "== a file replaced directly keeps its mode and owner"
printf 'old\n' >"$work/plain.csv"
chown "$other:$other" "$work/plain.csv"
chmod 640 "$work/plain.csv"
csv "$work/plain.csv"
[ "$(stat -c '%a %u' "$work/plain.csv")" = "640 $other" ] || fail "mode/owner not kept: $(stat -c '%a %u' "$work/plain.csv")"

echo "== temporaries of killed runs go with the next run, a running writer's stay"
dead=$(sh -c 'echo $$')
touch "$work/.out.csv.tmp-$dead-0-1" "$work/.out.csv.tmp-$$-0-1" "$work/.other.csv.tmp-$dead-0-1"
csv "$work/out.csv"
[ ! -e "$work/.out.csv.tmp-$dead-0-1" ] || fail "a killed run's temporary stayed"
[ -e "$work/.out.csv.tmp-$$-0-1" ] || fail "a live writer's temporary was removed"
[ -e "$work/.other.csv.tmp-$dead-0-1" ] || fail "another file's temporary was touched"

echo "== a stray of another user is left alone"
touch "$work/.out.csv.tmp-$dead-0-2"
chown "$other" "$work/.out.csv.tmp-$dead-0-2"
csv "$work/out.csv"
[ -e "$work/.out.csv.tmp-$dead-0-2" ] || fail "another user's file was removed"
echo "files are safe"
