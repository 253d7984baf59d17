#!/usr/bin/env bash
# Builds the Debian package from this build, checks it, installs it, runs the installed terminal
# as a throwaway unprivileged user on a virtual display, checks that a settings change lands in
# that user's configuration folder, and removes the package and the user again.
#
#   run-install-test.sh BUILD_DIR
#
# Exit status: 0 passed, 1 failed, 77 skipped (not root, package installed before, tool missing).
set -uo pipefail
build="$(realpath "$1")"
pkg=wendrake-terminal
SKIP=77

skip() { echo "SKIPPED: $*"; echo "The install test did not run; it is reported as skipped."; exit $SKIP; }
fail() { echo "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -qv "not-installed"; then
    skip "$pkg is on this machine already; it is left alone"
fi

need=()
for tool in cpack:cmake dpkg-shlibdeps:dpkg-dev lintian:lintian \
    desktop-file-validate:desktop-file-utils appstreamcli:appstream xvfb-run:xvfb xauth:xauth \
    xdotool:xdotool setpriv:util-linux useradd:passwd; do
    command -v "${tool%%:*}" >/dev/null 2>&1 || need+=("${tool##*:}")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing missing tools: ${need[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" ||
        skip "could not install ${need[*]}"
fi

work="$(mktemp -d /tmp/wt-install-test.XXXXXX)"
chmod 755 "$work" # the test user reaches its home and the driving script below
user="wtinst$$"
installed=0
extra=()
# apt's and userdel's own words stay in the test's log: a failed purge must be readable there.
purge() {
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$pkg" || return 1
    installed=0
    [ ${#extra[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${extra[@]}"
}
# userdel refuses a user that still runs a process (the X server may still be exiting).
remove_user() {
    id "$user" >/dev/null 2>&1 || return 0
    for i in $(seq 1 100); do
        pgrep -u "$user" >/dev/null || break
        sleep 0.1
    done
    pgrep -u "$user" -a && echo "these processes of $user are still running"
    userdel "$user"
}
cleanup() {
    [ $installed -eq 1 ] && purge
    remove_user
    # Qt's fallback runtime folder, should a failed run have made one.
    rm -rf "/tmp/runtime-$user"
    rm -rf "$work"
}
trap cleanup EXIT

echo "== package"
(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls "$work"/pkg/*.deb)"
echo "$deb"

echo "== checks"
# lintian's temporary files go to the work folder, which goes at the end.
mkdir "$work/tmp"
lintian_status=0
TMPDIR="$work/tmp" lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian.log"
[ $lintian_status -eq 0 ] || fail "lintian reports errors"
dpkg-deb -x "$deb" "$work/x"
desktop-file-validate "$work"/x/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$work"/x/usr/share/metainfo/*.xml || fail "appstreamcli validate"

echo "== install"
# Whatever apt would add besides the package goes again at the end.
mapfile -t extra < <(apt-get install -s --no-install-recommends "$deb" 2>/dev/null |
    awk '/^Inst /{print $2}' | grep -vx "$pkg")
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" ||
    fail "apt-get install"
installed=1
for f in /usr/bin/wendrake-terminal /usr/bin/wendrake-terminal-demo \
    /usr/lib/udev/rules.d/70-wendrake-terminal.rules /usr/share/wendrake-terminal/help/index.html \
    /usr/share/man/man1/wendrake-terminal.1.gz /usr/share/icons/hicolor/scalable/apps/wendrake-terminal.svg \
    /usr/bin/wendrake /usr/share/man/man1/wendrake.1.gz /usr/share/bash-completion/completions/wendrake; do
    [ -f "$f" ] || fail "$f is not installed"
done
grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/70-wendrake-terminal.rules || fail "rule without uaccess"

echo "== run as an ordinary user"
useradd -M -d "$work/home" -s /bin/sh "$user" || fail "useradd"
uid="$(id -u "$user")"
mkdir -p "$work/home/start"
# Qt takes a runtime folder only when it is the user's own with mode 0700; otherwise it makes
# /tmp/runtime-<user>, which would outlive the user.
mkdir -m 0700 "$work/runtime"
chown -R "$user:" "$work/home" "$work/runtime"
# The X socket folder is the system's (made at boot on a desktop); on a machine where no X server
# ran yet, the user's Xvfb would make it and own it beyond the user's removal.
[ -d /tmp/.X11-unix ] || install -d -m 1777 -o root -g root /tmp/.X11-unix
as_user() {
    setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" PATH=/usr/bin:/bin \
        XDG_RUNTIME_DIR="$work/runtime" "$@"
}
version="$(as_user /usr/bin/wendrake-terminal --version)"
[ "$version" = "wendrake-terminal 1.5.1" ] || fail "--version said '$version'"
# The command line runs without a display, bytes exact through a pipe.
[ "$(printf 'ok\377' | as_user /usr/bin/wendrake --demo recv --count 3 | od -An -tx1 | tr -d ' ')" = 6f6bff ] ||
    fail "wendrake --demo recv"

cat >"$work/drive.sh" <<'DRIVE'
cd "$HOME/start"
wendrake-terminal & app=$!
wid=""
for i in $(seq 1 100); do
    wid="$(xdotool search --name "Wendrake Terminal" 2>/dev/null | head -1)"
    [ -n "$wid" ] && break
    sleep 0.2
done
[ -n "$wid" ] || { echo "no window"; kill $app; exit 1; }
sleep 1
xdotool windowfocus --sync "$wid"
# Terminal menu, then "Clear Sent Transfer Data": the option goes off and is saved.
xdotool key --clearmodifiers alt+t
sleep 0.5
xdotool key d
for i in $(seq 1 50); do
    [ -f "$XDG_CONFIG_HOME/wendrake-terminal/WendrakeTerminal.dat" ] && break
    sleep 0.2
done
sleep 0.5
xdotool key Escape
for i in $(seq 1 25); do kill -0 $app 2>/dev/null || break; sleep 0.2; done
kill $app 2>/dev/null
wait $app 2>/dev/null
exit 0
DRIVE
chmod 755 "$work/drive.sh"
as_user xvfb-run -a -s "-screen 0 1280x1024x24" sh "$work/drive.sh" || fail "driving the window"

saved="$work/home/.config/wendrake-terminal/WendrakeTerminal.dat"
[ -f "$saved" ] || fail "no settings file in the user's configuration folder"
expected="$(printf '\000\302\001\000\010\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\000\000\000' | od -An -tx1)"
actual="$(od -An -tx1 "$saved")"
[ "$actual" = "$expected" ] || fail "settings file holds$actual, expected$expected"
[ "$(stat -c %U "$saved")" = "$user" ] || fail "settings file not owned by the user"
[ ! -e /usr/bin/WendrakeTerminal.dat ] || fail "a settings file appeared in /usr/bin"
[ -z "$(ls -A "$work/home/start")" ] || fail "the start folder got files: $(ls -A "$work/home/start")"

echo "== remove"
purge || fail "apt-get purge"
for f in /usr/bin/wendrake-terminal /usr/lib/udev/rules.d/70-wendrake-terminal.rules; do
    [ ! -e "$f" ] || fail "$f is still there after the purge"
done
remove_user || fail "userdel $user"
# Nothing of the user may outlive it outside the work folder (a runtime folder, X sockets).
left="$(find /tmp -xdev -uid "$uid" ! -path "$work" ! -path "$work/*" 2>/dev/null)"
[ -z "$left" ] || fail "the removed user's uid $uid still owns: $left"
echo "PASSED: package built, checked, installed, run as $user, settings saved, removed"
exit 0
