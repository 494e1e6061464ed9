#!/usr/bin/env bash
# Every file the tools write is complete or absent: the capture tool's CSV,
# SVG and sigrok session, eeprom_tool's binary and hex images. Each is written onto a full
# device (/dev/full), into a file system that runs out of room (a file-size
# limit: the write fails part-way, as on a full disk), into a directory the
# tool may not write and over a directory; each time the tool answers its
# file-error status 3, leaves no file behind and keeps a file that already
# had the name unchanged. eeprom_tool also refuses directories and endless
# inputs as images.
set -euo pipefail
capture=$1
eeprom=$2
work=$(mktemp -d)
chmod 755 "$work"
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

# How each kind of file is written to TARGET.
write_file() {  # kind target
  case $1 in
    csv) "$capture" --quiet --no-plot --csv "$2" >/dev/null ;;
    svg) "$capture" --quiet --no-csv --svg "$2" >/dev/null ;;
    sr) "$capture" --quiet --no-csv --no-plot --sr "$2" >/dev/null ;;
    bin | hex) "$eeprom" make default "$2" ;;
  esac
}

expect_status() {  # expected what command...
  local expected=$1 what=$2
  shift 2
  local status=0
  "$@" 2>"$work/err.txt" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL $what: status $status, expected $expected"
    cat "$work/err.txt"
    exit 1
  fi
}

# Nothing in DIR but what was there before (no stray temporaries).
expect_only() {  # dir names...
  local dir=$1
  shift
  local listed
  listed=$(cd "$dir" && ls -A | sort | tr '\n' ' ')
  local wanted
  wanted=$(printf '%s\n' "$@" | sed '/^$/d' | sort | tr '\n' ' ')
  if [ "$listed" != "$wanted" ]; then
    echo "FAIL: $dir holds '$listed', expected '$wanted'"
    exit 1
  fi
}

# As a user without rights to a directory (root writes anywhere, so root
# runs the tool as nobody).
as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
  else
    "$@"
  fi
}

for kind in csv svg sr bin hex; do
  echo "== $kind"
  # A full device.
  expect_status 3 "$kind onto /dev/full" write_file "$kind" /dev/full
  test -c /dev/full
  grep -q "cannot write /dev/full" "$work/err.txt"

  # The disk fills up part-way: an older file of the name stays as it was.
  dir="$work/full-$kind"
  mkdir "$dir"
  echo "previous content" >"$dir/out.$kind"
  expect_status 3 "$kind on a full file system" \
    bash -c "trap '' XFSZ; ulimit -f 2; $(declare -f write_file); capture='$capture' eeprom='$eeprom' write_file $kind '$dir/out.$kind'"
  grep -qx "previous content" "$dir/out.$kind"
  expect_only "$dir" "out.$kind"
  # With room it is written whole.
  write_file "$kind" "$dir/out.$kind"
  test "$(stat -c %s "$dir/out.$kind")" -gt 2048

  # A directory the tool may not write.
  dir="$work/locked-$kind"
  mkdir "$dir"
  chmod 555 "$dir"
  expect_status 3 "$kind into an unwritable directory" as_user bash -c \
    "$(declare -f write_file); capture='$capture' eeprom='$eeprom' write_file $kind '$dir/out.$kind'"
  expect_only "$dir"
  expect_status 3 "$kind into /proc" write_file "$kind" "/proc/self/out.$kind"

  # A directory under the name.
  dir="$work/taken-$kind"
  mkdir -p "$dir/out.$kind"
  expect_status 3 "$kind over a directory" write_file "$kind" "$dir/out.$kind"
  test -d "$dir/out.$kind"
  expect_only "$dir" "out.$kind"
done

echo "== eeprom_tool inputs that cannot be images"
for command in show convert set; do
  case $command in
    show) args=() ;;
    convert) args=("$work/converted.bin") ;;
    set) args=("$work/converted.bin" serial=1) ;;
  esac
  expect_status 1 "$command of a directory" "$eeprom" "$command" "$work" "${args[@]}"
  grep -q "is a directory" "$work/err.txt"
  expect_status 1 "$command of /dev/zero" "$eeprom" "$command" /dev/zero "${args[@]}"
  grep -q "larger than any image can be" "$work/err.txt"
  test ! -e "$work/converted.bin"
done
head -c 1048577 /dev/zero | tr '\0' '\377' >"$work/huge.bin"
expect_status 1 "show of an oversize dump" "$eeprom" show "$work/huge.bin"
grep -q "larger than any image can be" "$work/err.txt"

echo "== capture tool: an empty output name is refused"
expect_status 1 "--output ''" "$capture" --quiet --output ""
grep -q "needs a file name" "$work/err.txt"
echo "file writes ok"
