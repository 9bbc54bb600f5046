#!/usr/bin/env bash
# The packages scripts/package.sh made. The Debian package: its control
# fields, unpacked into a scratch root with dpkg -x and checked as an
# installed tree (check_installed.sh: the golden page, --version, ...), its
# service unit verified by systemd-analyze and its command line, with the
# sample configuration, serving the sample album on loopback. The Windows
# zip: exactly the expected files, each image of its architecture.
# Usage: check_packages.sh PACKAGES_DIR SOURCE_DIR VERSION
set -uo pipefail
packages=$1
src=$2
version=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

deb=$packages/albummaker_${version}_$(dpkg --print-architecture).deb
zip=$packages/albummaker-${version}-windows.zip
for f in "$deb" "$zip"; do
  [ -f "$f" ] || { echo "check_packages: $f is missing (run scripts/package.sh)"; exit 1; }
done
scratch=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# Control fields: the run-time dependencies dpkg-shlibdeps found, none on
# the package's own private runtime.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = albummaker ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
depends=$(field Depends)
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
for needed in libc6 libstdc++6 libgcc-s1; do
  grep -qx -F "$needed" <<<"$depends_names" || fail "Depends lacks $needed: $depends"
done
grep -q albumrt <<<"$depends" && fail "Depends names the private runtime: $depends"

root=$scratch/root
dpkg -x "$deb" "$root" || fail "dpkg -x"
"$src/tests/packaging/check_installed.sh" "$root" /usr "$src" "$version" || fail "the unpacked package"

# The unit, as systemd reads it: no finding at all (a value systemd ignores
# is only a warning, so the output must be empty too). The command is the
# unpacked one, and man finds the unpacked manual page.
unit=$root/usr/lib/systemd/system/albummaker@.service
sed "s#^ExecStart=/usr/bin/#ExecStart=$root/usr/bin/#" "$unit" >"$scratch/albummaker@photos.service"
findings=$(MANPATH=$root/usr/share/man systemd-analyze verify "$scratch/albummaker@photos.service" 2>&1)
rc=$?
[ "$rc" = 0 ] && [ -z "$findings" ] || fail "systemd-analyze verify (exit $rc): $findings"
for setting in DynamicUser=yes ProtectSystem=strict ReadOnlyPaths=/ "EnvironmentFile=/etc/albummaker/%i.conf"; do
  grep -qx -- "$setting" "$unit" || fail "the unit lacks $setting"
done

# The unit's command line, its variables from the sample configuration as
# systemd sets them (the port made 0 here: any free one), serves the sample
# album's first page.
exec_line=$(sed -n 's/^ExecStart=//p' "$unit")
conf=$root/usr/share/albummaker/photos.conf
value() { sed -n "s/^$1=//p" "$conf" | sed "s#^/usr/#$root/usr/#"; }
FOLDER=$(value FOLDER) TEMPLATE=$(value TEMPLATE) BIND=$(value BIND) PORT=0
[ "$BIND" = 127.0.0.1 ] || fail "the sample configuration binds '$BIND', not loopback"
read -r -a words <<<"$exec_line"
argv=()
for word in "${words[@]}"; do
  case "$word" in
    '${FOLDER}') argv+=("$FOLDER") ;; '${TEMPLATE}') argv+=("$TEMPLATE") ;;
    '${BIND}') argv+=("$BIND") ;; '${PORT}') argv+=("$PORT") ;;
    /usr/*) argv+=("$root$word") ;; *) argv+=("$word") ;;
  esac
done
timeout 30 "${argv[@]}" >"$scratch/serve.out" 2>"$scratch/serve.err" </dev/null &
server=$!
url=
for _ in $(seq 50); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$scratch/serve.out" | head -n 1)
  [ -n "$url" ] && break
  sleep 0.1
done
if [ -z "$url" ]; then
  fail "the unit's command did not start serving: $(cat "$scratch/serve.err")"
else
  curl -sS --max-time 10 "$url" -o "$scratch/served.html" || fail "GET $url"
  cmp -s "$scratch/served.html" "$src/tests/host/sample_page0.html" ||
    fail "the served first page differs from the golden page"
fi
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
server=

# The zip: exactly these files, each image of its own architecture.
python3 - "$zip" "$src/examples/album" "$version" <<'PY' || fail "the Windows zip"
import os, struct, sys, zipfile
path, album, version = sys.argv[1:]
top = f"albummaker-{version}-windows/"
expected = {top + "README-Windows.txt", top + "album.html"}
expected |= {top + "album/" + n for n in os.listdir(album)}
for arch in ("x86", "x64"):
    expected |= {f"{top}{arch}/albummaker.dll", f"{top}{arch}/albummaker.exe"}
archive = zipfile.ZipFile(path)
files = {n for n in archive.namelist() if not n.endswith("/")}
ok = files == expected
if not ok:
    print("  missing:", sorted(expected - files), "unexpected:", sorted(files - expected))
machines = {"x86": 0x14C, "x64": 0x8664}
for arch, machine in machines.items():
    for name in ("albummaker.dll", "albummaker.exe"):
        data = archive.read(f"{top}{arch}/{name}") if f"{top}{arch}/{name}" in files else b""
        pe = struct.unpack_from("<I", data, 0x3C)[0] if len(data) > 0x40 else 0
        if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", data, pe + 4)[0] != machine:
            print(f"  {arch}/{name} is not a PE image for machine {machine:#x}")
            ok = False
readme = archive.read(top + "README-Windows.txt") if top + "README-Windows.txt" in files else b""
if b"/n /i:user" not in readme or b"\r\n" not in readme:
    print("  README-Windows.txt lacks the per-user registration or Windows line ends")
    ok = False
sys.exit(0 if ok else 1)
PY

if [ "$failures" = 0 ]; then
  echo "check_packages: all checks passed"
  exit 0
fi
echo "check_packages: $failures check(s) failed"
exit 1
