#!/bin/bash
# The Debian package as a user meets it, from CPack's component "deb" of this build: lintian, the menu
# entry, AppStream and computed Depends; installed with dpkg, started by a new ordinary user under
# Xvfb (window, XDG folders, settings saved at close, status 0, nothing under /usr changed),
# korimo-mail --help and the manuals, removed. Needs root: skipped (77) for an ordinary user, failed in CI.
#   package_test.sh SOURCE-DIR BUILD-DIR SHOTS-FOLDER
set -u
SRC=$1 BUILD=$2 SHOTS=$3
TEST_USER=korimo-pkgtest

fail() {
    echo "FAIL: $*"
    [ -n "${DISPLAY:-}" ] && import -window root "$SHOTS/failure.png" 2>/dev/null
    [ -f "$TMP/korimo.log" ] && { echo "--- korimo output"; cat "$TMP/korimo.log"; }
    exit 1
}
if [ "$(id -u)" -ne 0 ]; then
    [ -n "${CI:-}" ] && { echo "FAIL: this test installs a package with dpkg and must run as root in CI"; exit 1; }
    echo "skip: installing a package with dpkg needs root"
    exit 77
fi
# shellcheck source=../common/journey.sh
. "$(dirname "$0")/../common/journey.sh"
need cmake cpack dpkg dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli man Xvfb xdotool import \
    runuser useradd python3

TMP=$(mktemp -d)
chmod 755 "$TMP"
PIDS=()
INSTALLED=0
CREATED_USER=0
cleanup() {
    stop_pids
    [ "$INSTALLED" -eq 1 ] && dpkg_locked -r korimo >/dev/null
    [ "$CREATED_USER" -eq 1 ] && userdel "$TEST_USER" 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT
# dpkg, waiting up to two minutes for another package manager to let go of its lock.
dpkg_locked() {
    local deadline=$((SECONDS + 120)) out
    while :; do
        out=$(dpkg "$@" 2>&1) && { echo "$out"; return 0; }
        grep -q 'lock' <<<"$out" && [ $SECONDS -lt $deadline ] || { echo "$out"; return 1; }
        sleep 1
    done
}
mkdir -p "$SHOTS"

# --- pack -----------------------------------------------------------------------------------------
started=$SECONDS
rm -rf "$BUILD/package"
(cd "$BUILD" && cpack -G DEB) >"$TMP/cpack.log" 2>&1 || { cat "$TMP/cpack.log"; fail "cpack"; }
deb=$(ls "$BUILD"/package/korimo_*.deb 2>/dev/null | head -n1)
[ -f "$deb" ] || fail "no package in $BUILD/package"
echo "built $(basename "$deb") in $((SECONDS - started)) s"

# --- the package's own checks ------------------------------------------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -q 'libqt6widgets6' <<<"$depends" && grep -q 'libgmime-3.0' <<<"$depends" ||
    fail "Depends was not computed from the shared libraries"
lintian --allow-root --fail-on error --tag-display-limit 0 "$deb" >"$TMP/lintian.log" 2>&1
lintian_status=$?
echo "--- lintian"; cat "$TMP/lintian.log"
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors"
dpkg-deb -c "$deb" | awk '{print $6}' >"$TMP/contents"
for f in ./usr/bin/korimo ./usr/bin/korimo-mail ./usr/lib/korimo/korimo-mail-helper ./usr/lib/korimo/korimo-message-helper \
    ./usr/share/korimo/DATA/iconKorimo.ico ./usr/share/korimo/DATA/Icon.ico \
    ./usr/share/applications/korimo.desktop ./usr/share/icons/hicolor/48x48/apps/korimo.png \
    ./usr/share/icons/hicolor/scalable/apps/korimo.svg ./usr/share/man/man1/korimo.1.gz \
    ./usr/share/man/man1/korimo-mail.1.gz; do
    grep -qx "$f" "$TMP/contents" || fail "the package lacks $f"
done
grep -q '^./usr/share/metainfo/.*\.metainfo\.xml$' "$TMP/contents" || fail "the package lacks its AppStream metadata"

# --- install -------------------------------------------------------------------------------------------
# Minimal images exclude man pages from every package; ours are part of what is tested.
dpkg_locked -i --path-include='/usr/share/man/man1/korimo*' "$deb" >"$TMP/dpkg.log" || { cat "$TMP/dpkg.log"; fail "dpkg -i"; }
INSTALLED=1
desktop-file-validate /usr/share/applications/korimo.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"

# --- an ordinary user starts it --------------------------------------------------------------------------
id "$TEST_USER" >/dev/null 2>&1 || {
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$TEST_USER" || fail "useradd"
    CREATED_USER=1
}
HOME_DIR=$TMP/home
mkdir -p "$HOME_DIR"
chown "$TEST_USER": "$HOME_DIR"
as_user() {
    runuser -u "$TEST_USER" -- env -i HOME="$HOME_DIR" PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="${DISPLAY:-}" \
        XDG_RUNTIME_DIR="$HOME_DIR" "$@"
}
start_display "$TMP" || fail "Xvfb did not start"

# Anything written under /usr from here on must be newer than the stamp: wait until the file clock
# (coarser than the system clock) has passed it.
touch "$TMP/stamp"
clock_passed() { touch "$TMP/probe" && [ "$TMP/probe" -nt "$TMP/stamp" ]; }
wait_for 2 clock_passed || fail "the file clock did not move"
as_user /usr/bin/korimo >"$TMP/korimo.log" 2>&1 &
korimo_pid=$!
PIDS+=($korimo_pid)
main_window() { visible_window '^こりも$'; }
wait_for 20 main_window || fail "the main window did not appear"
import -window root "$SHOTS/installed-main-window.png"
for d in "$HOME_DIR/.config/korimo" "$HOME_DIR/.local/share/korimo/AttachedFiles" "$HOME_DIR/.local/share/korimo/Sound"; do
    [ -d "$d" ] || fail "$d was not made at start"
done
[ "$(stat -c %U "$HOME_DIR/.config/korimo")" = "$TEST_USER" ] || fail "the settings folder is not the user's"

# The user closes the window: the settings are saved in the user's folder and the program ends.
python3 "$SRC/tests/package/closeWindow.py" "$(main_window)" || fail "cannot close the window"
wait_for 15 bash -c "! kill -0 $korimo_pid 2>/dev/null" || fail "korimo did not end when its window was closed"
wait "$korimo_pid"
status=$?
[ "$status" -eq 0 ] || fail "korimo ended with status $status"
ini=$HOME_DIR/.config/korimo/iniKR.ini
[ -f "$ini" ] || fail "no iniKR.ini in the user's config folder"
[ "$(stat -c '%U %a' "$ini")" = "$TEST_USER 600" ] || fail "iniKR.ini is $(stat -c '%U %a' "$ini")"
grep -q 'mnum=' "$ini" || fail "iniKR.ini does not hold the saved count: $(cat "$ini")"
changed=$(find /usr -newer "$TMP/stamp" 2>/dev/null)
[ -z "$changed" ] || fail "written under /usr: $changed"
echo "settings saved: $ini"

# --- the command-line tool, the program's helpers and the manual ----------------------------------------
for helper in korimo-mail-helper korimo-message-helper; do # they start, and refuse what is not a request
    status=0
    as_user /usr/lib/korimo/$helper </dev/null >/dev/null 2>&1 || status=$?
    [ "$status" -eq 2 ] || fail "/usr/lib/korimo/$helper ended with $status"
done
as_user korimo-mail --help >"$TMP/help.txt" 2>&1 || fail "korimo-mail --help failed"
grep -q '^usage: korimo-mail' "$TMP/help.txt" || fail "korimo-mail --help: $(cat "$TMP/help.txt")"
for page in korimo korimo-mail; do
    as_user MANPAGER=cat MANWIDTH=80 man "$page" >"$TMP/man.txt" 2>&1 || fail "man $page: $(cat "$TMP/man.txt")"
    grep -q "^NAME" "$TMP/man.txt" || fail "man $page shows no page: $(cat "$TMP/man.txt")"
done

# --- remove ----------------------------------------------------------------------------------------------
dpkg_locked -r korimo >"$TMP/dpkg.log" || { cat "$TMP/dpkg.log"; fail "dpkg -r"; }
INSTALLED=0
[ ! -e /usr/bin/korimo ] && [ ! -e /usr/share/korimo ] || fail "dpkg -r left files behind"
echo "PASS"
