#!/bin/sh
# Parses the JSON documents of vlxinstall --check --json and vlxini
# --format json back with python3's json module, and checks what they say:
# a complete, a damaged and an unreadable installation, and values with
# bytes of every kind. Natively, or under Wine with "wine" as the runner.
# Exits 77 (skipped) without python3.
# usage: test-json-output.sh VLXINSTALL VLXINI [wine]
set -u
tool=$1
ini=$2
runner=${3:-}
here=$(cd "$(dirname "$0")/.." && pwd)
name=test-json-output
if [ -n "$runner" ]; then
  . "$here/scripts/wine-host-test.sh"
  native() { winepath -w "$1" 2>/dev/null; }
else
  work=$(mktemp -d)
  root=$work/root
  trap 'rm -rf "$work"' EXIT
  fail() { echo "$name: $*" >&2; exit 1; }
  skip() { echo "$name: Skipped"; echo "$*"; exit 77; }
  cp -R "$here/examples/distribution" "$root"
  native() { printf '%s\n' "$1"; }
fi
command -v python3 >/dev/null 2>&1 || skip "no python3 to parse JSON with"
run() { if [ -n "$runner" ]; then "$runner" "$@"; else "$@"; fi; }

# Runs a check of the root as JSON and asserts, in Python over the parsed
# document d (paths with '/'), each expression given; $1 is the status.
expect_check() {
  want=$1
  shift
  status=0
  run "$tool" --check --json "$(native "$root")" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$want" ] || fail "status $status, expected $want: $(cat "$work/out" "$work/err")"
  python3 - "$work/out" "$@" <<'PY' || fail "the document does not say so: $(cat "$work/out")"
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
for f in d["findings"]:
    f["path"] = f["path"].replace("\\", "/")
kinds = sorted((f["kind"], f["path"]) for f in d["findings"])
for expression in sys.argv[2:]:
    if not eval(expression):
        sys.exit("false: " + expression)
PY
}

run "$tool" -s "$(native "$root")" >/dev/null 2>&1 || fail "the installation failed"
expect_check 0 'd["verdict"] == "complete"' 'd["start_up"] == "minimal"' 'd["findings"] == []' \
  'd["release"] == {"VSN": "2.4.1", "SYSTEM_VSN": "9"}' 'd["root"].replace("\\", "/").endswith("/root")'

rm "$root/bin/vlxwin.exe"
echo changed >"$root/bin/vlx.exe"
printf '[vorlax]\nRootdir=elsewhere\n' >"$root/vlxcore-2.4.1/bin/vlx.ini"
expect_check 1 'd["verdict"] == "incomplete"' 'd["start_up"] is None' \
  'kinds == [("differs", "bin/vlx.exe"), ("differs", "vlxcore-2.4.1/bin/vlx.ini"), ("missing", "bin/vlxwin.exe")]' \
  '[f["detail"] for f in d["findings"] if f["path"] == "bin/vlx.exe"][0].replace("\\", "/") == "from vlxcore-2.4.1/bin/vlx.exe"' \
  '[f["detail"] for f in d["findings"] if f["path"].endswith("vlx.ini")][0].startswith("Bindir is not there, a run would write ")'
if [ -z "$runner" ]; then
  # A name that is not UTF-8: each byte as the character of its Latin-1 reading.
  printf 'torn' >"$root/bin/$(printf '.vlxinstall-Ab3xZ9-vlx\377.exe')"
  expect_check 1 '("left-over", "bin/.vlxinstall-Ab3xZ9-vlx\xff.exe") in kinds'
  rm "$root/bin/$(printf '.vlxinstall-Ab3xZ9-vlx\377.exe')"
fi

rm -rf "$root/bin"
echo "not a directory" >"$root/bin"
expect_check 1 'd["verdict"] == "incomplete"' '[f["kind"] for f in d["findings"] if f["path"] == "bin"] == ["unreadable"]' \
  'all(f.get("reason") for f in d["findings"] if f["kind"] == "unreadable")'

# vlxini: hostile values, listed and looked up as JSON.
printf '[s]\nsemi=a\\;b\npath=C:\\\\dir\\\\\nutf8=gr\303\274\303\237\nlatin=caf\351\nquote=say "hi"\n' >"$work/v.ini"
run "$ini" list "$(native "$work/v.ini")" s --format json >"$work/out" 2>"$work/err" || fail "list: $(cat "$work/err")"
python3 - "$work/out" <<'PY' || fail "list's document: $(cat "$work/out")"
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
got = [(e["key"], e["value"], e["line"]) for e in d["entries"]]
want = [("semi", "a;b", 2), ("path", "C:\\dir\\", 3), ("utf8", "gr\u00fc\u00df", 4), ("latin", "caf\u00e9", 5),
        ("quote", 'say "hi"', 6)]
sys.exit(0 if got == want and d["section"] == "s" and d["line"] == 1 else "got %r" % (got,))
PY
echo ok
