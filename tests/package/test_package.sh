#!/usr/bin/env bash
# The Debian package as a user gets it: made by scripts/package from this
# build tree, checked by lintian, installed with dpkg into an empty root, its
# files compared with expected_files, its desktop entry, metainfo and udev
# rules put to their validators, the installed Orvisk started from its desktop
# entry under Xvfb from another folder, and the package purged again.
#   test_package.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="$(realpath "$1")"

tmp="$(realpath "$(mktemp -d)")"
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }
# dpkg wants ldconfig and start-stop-daemon on the PATH, as root would have them.
export PATH="$PATH:/usr/sbin:/sbin"

step "package"
deb="$("$repo/scripts/package" "$build")"
echo "$deb"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
[[ $depends == *libqt5widgets5* && $depends == *libgdal* ]] ||
  fail "Depends does not name the libraries the programs link"

step "lintian"
status=0
lintian --fail-on error,warning "$deb" >"$tmp/lintian" 2>&1 || status=$?
grep -v 'running with root privileges' "$tmp/lintian" || true
[[ $status -eq 0 ]] || fail "lintian found errors or warnings"

step "install into an empty root"
# The root knows the host's packages that the .deb depends on, so dpkg checks
# the Depends that dpkg-shlibdeps wrote against Debian's own packages.
root="$tmp/root"
admin="$root/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates"
: >"$admin/available"
: >"$admin/status"
for name in $(tr ',|' '\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g' | sort -u); do
  stanza="$(dpkg-query -s "$name" 2>/dev/null)" || continue
  printf '%s\n\n' "$stanza" >>"$admin/status"
  : >"$admin/info/$(dpkg-query -W -f='${binary:Package}' "$name").list"
done
dpkg_root=(dpkg --root="$root" --log="$tmp/dpkg.log" --force-not-root)
"${dpkg_root[@]}" -i "$deb"

(cd "$root" && find . -path ./var/lib/dpkg -prune -o \( -type f -o -type l \) -print) |
  sed 's|^\.||' | LC_ALL=C sort >"$tmp/installed"
# expected_files is in LC_ALL=C sort order.
diff -u "$here/expected_files" "$tmp/installed" ||
  fail "the files installed are not those of expected_files (-: missing, +: not expected)"

step "programs"
for program in orvisk-download orvisk-spectrum orvisk-archive orvisk-map-import orvisk-params orvisk-sim; do
  status=0
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --help >"$tmp/help" 2>&1 || status=$?
  # 1 for a program that reads --help as a wrong argument and answers with its usage.
  [[ $status -le 1 ]] && grep -qi '^usage:' "$tmp/help" ||
    fail "$program --help: status $status: $(head -3 "$tmp/help")"
done

step "desktop-file-validate"
desktop="$root/usr/share/applications/example.korvenix.Orvisk.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"

step "appstreamcli validate-tree"
# The tree check validates the metainfo and finds its desktop entry.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli rejects the metainfo"

step "udev rules"
command -v udevadm >/dev/null || fail "no udevadm (Debian package udev)"
# Debian 12's udevadm (252) has no verify: udevadm test runs every rule on
# made-up devices in a sysfs of our own, in a mount namespace where the
# package's rules stand in /etc/udev/rules.d and /dev and /run are scratch.
sys="$tmp/sys"
mkdir -p "$sys/bus/usb" "$sys/bus/usb-serial" "$sys/class/tty"
usb_device() { # PORT VENDOR PRODUCT
  local dir="$sys/devices/orvisk/usb1/$1" minor=$((${1#1-} + 1))
  mkdir -p "$dir"
  printf 'MAJOR=189\nMINOR=%s\nDEVNAME=bus/usb/001/%03d\nDEVTYPE=usb_device\nPRODUCT=%x/%x/100\n' \
    "$minor" "$minor" "0x$2" "0x$3" >"$dir/uevent"
  echo "$2" >"$dir/idVendor"
  echo "$3" >"$dir/idProduct"
  ln -s "$sys/bus/usb" "$dir/subsystem"
}
serial_port() { # PORT TTY: an FTDI-style tty under the device on PORT
  local interface="$sys/devices/orvisk/usb1/$1/$1:1.0"
  local port="$interface/$2" tty="$interface/$2/tty/$2"
  mkdir -p "$tty"
  echo 'DEVTYPE=usb_interface' >"$interface/uevent"
  ln -s "$sys/bus/usb" "$interface/subsystem"
  : >"$port/uevent"
  ln -s "$sys/bus/usb-serial" "$port/subsystem"
  printf 'MAJOR=188\nMINOR=%s\nDEVNAME=%s\n' "${2#ttyUSB}" "$2" >"$tty/uevent"
  ln -s "$sys/class/tty" "$tty/subsystem"
}
usb_device 1-1 1781 0c44 # the FTDI bridge
usb_device 1-2 1781 0c45
usb_device 1-3 1781 0c4d
usb_device 1-4 0403 6001 # a generic FTDI chip
usb_device 1-5 0403 0c45 # another vendor's 0c45
serial_port 1-1 ttyUSB0
serial_port 1-4 ttyUSB1
devices=(1-1 1-2 1-3 1-4 1-5 1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0 1-4/1-4:1.0/ttyUSB1/tty/ttyUSB1)
unshare --map-root-user --mount bash -c '
  set -e
  mount --bind "$1/usr/lib/udev/rules.d" /etc/udev/rules.d
  mount --bind "$2" /sys
  mount -t tmpfs scratch /run
  mount -t tmpfs scratch /dev
  out=$3; shift 3
  for device in "$@"; do
    SYSTEMD_DEVICE_VERIFY_SYSFS=0 udevadm test --action=add "/sys/devices/orvisk/usb1/$device" \
      >"$out/udev-${device##*/}" 2>&1 || true
  done' udev "$root" "$sys" "$tmp" "${devices[@]}" ||
  fail "udevadm test could not run in a mount namespace of its own (user namespaces off?)"

rules=/etc/udev/rules.d/70-orvisk.rules
grep -q "^Reading rules file: $rules" "$tmp/udev-1-1" || fail "udevadm did not read $rules"
if grep -h "^$rules:[0-9]" "$tmp"/udev-*; then
  fail "udevadm finds fault with $rules"
fi
plugdev="$(getent group plugdev | cut -d: -f3)"
dialout="$(getent group dialout | cut -d: -f3)"
last() { grep -E "^[^ ]+: [^ ]+:[0-9]+ $2 " "$tmp/udev-$1" | tail -1; } # DEVICE KEY
for device in 1-1 1-2 1-3; do
  log="$tmp/udev-$device"
  last "$device" GROUP | grep -q "$rules:[0-9]* GROUP $plugdev\$" ||
    fail "$device: group not plugdev by $rules: $(last "$device" GROUP)"
  last "$device" MODE | grep -q "$rules:[0-9]* MODE 0660\$" ||
    fail "$device: mode not 0660 by $rules: $(last "$device" MODE)"
  grep -q '^TAGS=.*:uaccess:' "$log" || fail "$device: not tagged uaccess"
  # The seat rules act on the tag only when it came before them.
  grep -q "73-seat-late.rules:[0-9]* RUN 'uaccess'" "$log" ||
    fail "$device: the seat rules did not give it to the user at the seat"
  grep -qx 'ID_MM_DEVICE_IGNORE=1' "$log" || fail "$device: ModemManager not told to leave it"
done
log="$tmp/udev-ttyUSB0"
grep -q '^TAGS=.*:uaccess:' "$log" || fail "the bridge's tty is not tagged uaccess"
grep -qx 'ID_MM_DEVICE_IGNORE=1' "$log" || fail "ModemManager not told to leave the bridge's tty"
last ttyUSB0 GROUP | grep -q "GROUP $dialout\$" ||
  fail "the bridge's tty left dialout: $(last ttyUSB0 GROUP)"
for device in 1-4 1-5 ttyUSB1; do
  ! grep -q "^[^ ]*: $rules:[0-9]" "$tmp/udev-$device" || fail "$device: $rules applies to it"
  ! grep -q '^TAGS=.*:uaccess:' "$tmp/udev-$device" || fail "$device: tagged uaccess"
done

step "start Orvisk from its desktop entry"
exec_line="$(sed -n 's/^Exec=//p' "$desktop" | head -1)"
read -r -a command <<<"${exec_line//%[fFuUick]/}"
program="$(
  PATH="$root/usr/bin:$PATH"
  command -v "${command[0]}"
)" || true
[[ $program == "$root/usr/bin/orvisk" ]] ||
  fail "Exec=$exec_line does not start the installed orvisk (${program:-nothing})"
home="$tmp/home"
away="$tmp/elsewhere"
mkdir -p "$home" "$away" "$tmp/runtime"
chmod 700 "$tmp/runtime"
# Waits for the window, moves the pointer over it until the map reports the
# coordinates under it, then quits with Ctrl+Q.
cat >"$tmp/session.sh" <<'EOF'
tmp=$1
shift
"$@" >"$tmp/out" 2>"$tmp/err" &
app=$!
for _ in $(seq 150); do
  kill -0 "$app" 2>/dev/null || break
  for x in 300 450 600 750; do
    xdotool mousemove "$x" 250
    sleep 0.1
  done
  grep -q '^x:' "$tmp/out" && break
done
cp "/proc/$app/maps" "$tmp/maps" 2>/dev/null || true
# With no window manager the keys go to the window given the focus.
window="$(xdotool search --onlyvisible --name '^Orvisk$' | head -1)"
[ -z "$window" ] || timeout 10 xdotool windowfocus --sync "$window" || true
xdotool key ctrl+q
for _ in $(seq 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
if kill "$app" 2>/dev/null; then
  echo -n "still running, " >"$tmp/status"
fi
status=0
wait "$app" || status=$?
echo "$status" >>"$tmp/status"
EOF
# On the X server, whatever platform the other tests run Qt on.
(cd "$away" && env -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" \
  XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$tmp/runtime" PATH="$root/usr/bin:$PATH" \
  xvfb-run -a -s "-screen 0 1280x720x24" bash "$tmp/session.sh" "$tmp" "${command[@]}")
cat "$tmp/err"
grep -qF "$root/usr/share/orvisk/data/res.dat" "$tmp/maps" ||
  fail "orvisk did not open the installed data/res.dat"
# The cursor's longitude and latitude: only the sample map's files together
# (image, world file, projection) give them, and they lie on its area.
coords="$(grep '^x:' "$tmp/out" | tail -1 | awk '{print $(NF-1), $NF}')" || true
echo "cursor: ${coords:-none}"
awk '{exit !($1 > 24.2 && $1 < 24.8 && $2 > 57.3 && $2 < 57.6)}' <<<"${coords:-0 0}" ||
  fail "orvisk did not show the sample map"
status="$(cat "$tmp/status" 2>/dev/null)"
[[ $status == 0 ]] || fail "orvisk did not end well on Ctrl+Q: ${status:-no status}"
[[ -f $home/.config/Korvenix/Orvisk.conf ]] || fail "orvisk kept its settings elsewhere"
[[ -z "$(ls -A "$away")" ]] || fail "orvisk wrote into the folder it was started from"

step "purge"
"${dpkg_root[@]}" --purge orvisk
left="$(cd "$root" && find . -mindepth 1 -not -path ./var -not -path ./var/lib \
  -not -path ./var/lib/dpkg -not -path './var/lib/dpkg/*')"
[[ -z $left ]] || fail "the purge left: $left"
[[ "$(dpkg-query --admindir="$admin" -W -f='${Status}' orvisk 2>/dev/null)" != *" installed" ]] ||
  fail "dpkg still has orvisk installed"
echo "package: all checks passed"
