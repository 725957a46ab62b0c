#!/usr/bin/env bash
# The install, into a temporary DESTDIR, of a build tree.
#   install_test.sh layout <build>  the layout, the entries, the udev rule and
#                                   its command on a config.ini with two IDs
#                                   and one without numbers
#   install_test.sh user <build>    the install a user without root makes
#                                   into a prefix of their own: the
#                                   "programs" component writes nothing
#                                   outside the prefix; "autostart" and
#                                   "udev" hold the files under /etc
#   install_test.sh other <build>   the install by a user who owns neither the
#                                   build tree nor anything outside the prefix
#                                   (run as root: it installs as "nobody";
#                                   exit 77, skipped, otherwise)
#   install_test.sh start <build>   the installed tessold and Marvane start
#                                   against the emulated mouse and end
#                                   (exit 77, skipped, while they are not built)
set -euo pipefail
what="$1"
build="$2"
prefix=/usr/local
folder="$prefix/lib/gaming-mouse"
work=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in ${pids[@]+"${pids[@]}"}; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
root="$work/root"
failures=0
ok() { echo "ok   $1"; }
bad() { echo "FAIL $1"; failures=$((failures + 1)); }
expect() {  # description, command...
  local d="$1"; shift
  if "$@"; then ok "$d"; else bad "$d"; fi
}

if [ "$what" = start ]; then
  for p in Marvane tessold; do
    if [ ! -x "$build/program/$p" ]; then
      echo "$p is not built yet: the start check is skipped"
      exit 77
    fi
  done
fi

if [ "$what" = user ]; then
  # Everything the install writes lands under DESTDIR, so what lies outside
  # <DESTDIR><prefix> is what a user without root could not write.
  home=/home/someone
  uprefix="$home/.local"
  # files <tree>: every file and link below it, one path a line, sorted.
  files() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\.||' | sort); }
  install_part() {  # component, destination root
    DESTDIR="$2" cmake --install "$build" --prefix "$uprefix" --component "$1" >"$work/install-$1.log" 2>&1 ||
      { cat "$work/install-$1.log"; bad "cmake --install --component $1"; }
  }
  install_part programs "$work/programs"
  outside=$(files "$work/programs" | grep -v "^$uprefix/" || true)
  expect "the programs component writes only under the prefix${outside:+ (not: $outside)}" test -z "$outside"
  for f in config.ini ui.local help-0409.html mouse-emulator; do
    expect "$uprefix/lib/gaming-mouse/$f installed" test -f "$work/programs$uprefix/lib/gaming-mouse/$f"
  done
  for p in Marvane tessold; do
    if [ -e "$build/program/$p" ]; then
      expect "$uprefix/bin/$p links into the program folder" \
        test "$(readlink "$work/programs$uprefix/bin/$p")" = "../lib/gaming-mouse/$p"
    fi
  done
  desktop="$work/programs$uprefix/share/applications/gaming-mouse-config.desktop"
  expect "the menu entry starts $uprefix/bin/Marvane" grep -qx "Exec=$uprefix/bin/Marvane" "$desktop"
  tool="$work/programs$uprefix/sbin/gaming-mouse-udev-rule"
  expect "the rule command reads the prefix's config.ini" \
    grep -q "^default_config='$uprefix/lib/gaming-mouse/config.ini'$" "$tool"
  expect "the rule command, run by root later, writes the rule under /etc" \
    grep -q "^default_output='/etc/udev/rules.d/70-gaming-mouse.rules'$" "$tool"

  install_part autostart "$work/autostart"
  expect "the autostart component holds the monitor's entry under /etc alone" \
    test "$(files "$work/autostart")" = /etc/xdg/autostart/gaming-mouse-monitor.desktop
  expect "the autostart entry starts $uprefix/bin/tessold" \
    grep -qx "Exec=$uprefix/bin/tessold" "$work/autostart/etc/xdg/autostart/gaming-mouse-monitor.desktop"
  install_part udev "$work/udev"
  expect "the udev component holds the rule under /etc alone" \
    test "$(files "$work/udev")" = /etc/udev/rules.d/70-gaming-mouse.rules
  [ "$failures" = 0 ]
  exit
fi

if [ "$what" = other ]; then
  if [ "$(id -u)" != 0 ] || ! command -v runuser >/dev/null 2>&1 || ! id nobody >/dev/null 2>&1; then
    echo "needs root, runuser and the user nobody to install as another user: skipped"
    exit 77
  fi
  # nobody's own folders: the prefix, a temporary folder, a home; nothing else
  # is theirs to write, the build tree least of all.
  chmod 0755 "$work"
  mine="$work/nobody"
  mkdir -p "$mine/prefix" "$mine/tmp" "$mine/home/.config/autostart"
  chown -R nobody "$mine"
  as_nobody() {  # log, command...
    local log="$1"; shift
    runuser -u nobody -- env HOME="$mine/home" TMPDIR="$mine/tmp" "$@" >"$log" 2>&1
  }
  # files <tree>: every file and link below it, one path a line, sorted.
  files() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\.||' | sort); }
  p="$mine/prefix"
  if as_nobody "$work/programs.log" cmake --install "$build" --prefix "$p" --component programs; then
    ok "nobody installs the programs component"
  else
    cat "$work/programs.log"; bad "nobody installs the programs component"
  fi
  for f in lib/gaming-mouse/config.ini lib/gaming-mouse/ui.local share/applications/gaming-mouse-config.desktop \
           sbin/gaming-mouse-udev-rule; do
    expect "$f under the prefix" test -f "$p/$f"
  done
  for prog in Marvane tessold; do
    if [ -e "$build/program/$prog" ]; then
      expect "bin/$prog links into the program folder" test "$(readlink "$p/bin/$prog")" = "../lib/gaming-mouse/$prog"
    fi
  done
  expect "the menu entry starts the prefix's Marvane" \
    grep -qx "Exec=$p/bin/Marvane" "$p/share/applications/gaming-mouse-config.desktop"
  expect "nothing left in the temporary folder" test -z "$(files "$mine/tmp")"

  # The autostart entry into nobody's own autostart folder, named at install time.
  if as_nobody "$work/autostart.log" env MOUSE_AUTOSTART_DIR="$mine/home/.config/autostart" \
      cmake --install "$build" --prefix "$p" --component autostart; then
    ok "nobody installs the autostart entry into their own folder"
  else
    cat "$work/autostart.log"; bad "nobody installs the autostart entry into their own folder"
  fi
  expect "the autostart entry starts the prefix's tessold" \
    grep -qx "Exec=$p/bin/tessold" "$mine/home/.config/autostart/gaming-mouse-monitor.desktop"

  # A prefix where one destination cannot be written: the install fails
  # before it copies anything.
  q="$mine/locked"
  mkdir -p "$q/share"
  chown -R nobody "$q"
  chown root "$q/share"
  chmod 0755 "$q/share"
  if as_nobody "$work/locked.log" cmake --install "$build" --prefix "$q" --component programs; then
    bad "an install that cannot finish fails"
  else
    ok "an install that cannot finish fails"
  fi
  expect "it says which folder it cannot write" grep -q "$q/share" "$work/locked.log"
  expect "and copied nothing" test -z "$(files "$q")"
  [ "$failures" = 0 ]
  exit
fi

if ! DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL cmake --install"
  exit 1
fi

if [ "$what" = layout ]; then
  for f in config.ini ui.local help-0409.html mouse-emulator; do
    expect "$folder/$f installed" test -f "$root$folder/$f"
  done
  expect "mouse-emulator is executable" test -x "$root$folder/mouse-emulator"
  if [ -d "$build/program/Images" ]; then
    expect "the skin is installed" test -f "$root$folder/Images/0409/icons/logo.png"
    expect "images is a link to Images" test "$(readlink "$root$folder/images")" = Images
  fi
  for p in Marvane tessold libuiHook.so; do
    if [ -e "$build/program/$p" ]; then
      expect "$p installed" test -x "$root$folder/$p"
    else
      expect "$p not built, not installed" test ! -e "$root$folder/$p"
    fi
  done
  for p in Marvane tessold; do
    if [ -e "$build/program/$p" ]; then
      expect "$prefix/bin/$p links into the program folder" \
        test "$(readlink "$root$prefix/bin/$p")" = "../lib/gaming-mouse/$p" -a -x "$root$prefix/bin/$p"
    else
      expect "no $prefix/bin/$p while it is not built" test ! -e "$root$prefix/bin/$p" -a ! -L "$root$prefix/bin/$p"
    fi
  done

  desktop="$root$prefix/share/applications/gaming-mouse-config.desktop"
  autostart="$root/etc/xdg/autostart/gaming-mouse-monitor.desktop"
  expect "menu entry starts $prefix/bin/Marvane" grep -qx "Exec=$prefix/bin/Marvane" "$desktop"
  expect "menu entry has our icon" grep -qx "Icon=$folder/Images/0409/icons/logo.png" "$desktop"
  expect "autostart entry starts $prefix/bin/tessold" grep -qx "Exec=$prefix/bin/tessold" "$autostart"
  if command -v desktop-file-validate >/dev/null 2>&1; then
    expect "entries validate" desktop-file-validate "$desktop" "$autostart"
  fi

  rules="$root/etc/udev/rules.d/70-gaming-mouse.rules"
  tool="$root$prefix/sbin/gaming-mouse-udev-rule"
  line() {
    printf 'SUBSYSTEM=="hidraw", ATTRS{idVendor}=="%s", ATTRS{idProduct}=="%s", TAG+="uaccess"' "$1" "$2"
  }
  expect "the installed rule names the emulated mouse" \
    test "$(grep -v '^#' "$rules")" = "$(line 1209 0001)"
  expect "the rule command is executable" test -x "$tool"
  expect "the rule command reads the installed config.ini" grep -q "^default_config='$folder/config.ini'$" "$tool"
  expect "the rule command writes the installed rule" \
    grep -q "^default_output='/etc/udev/rules.d/70-gaming-mouse.rules'$" "$tool"

  # A user adds a real mouse and a collection ID without numbers, then
  # regenerates the rule with the installed command.
  cat > "$root$folder/config.ini" <<'EOF'
[IncludeHIDDeviceList]
id1=HID\VID_1209&PID_0001&Col02
id2=HID\VID_046D&PID_C08B&MI_01&Col02
id3=HID_DEVICE_UP:FFA0_U:0001
EOF
  "$tool" --config "$root$folder/config.ini" --output "$rules" --no-reload >/dev/null
  expect "regenerated rule: two lines, lower-case" \
    test "$(grep -v '^#' "$rules")" = "$(line 1209 0001; echo; line 046d c08b)"
  expect "no rule opens the node to everyone" bash -c "! grep -rq MODE '$root/etc/udev'"
fi

if [ "$what" = start ]; then
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
  export XDG_RUNTIME_DIR="$work/run" MOUSE_RUNTIME_DIR="$work/run/gaming-mouse"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" && mkdir -m 0700 "$XDG_RUNTIME_DIR"
  export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
  emu="$root$folder/mouse-emulator"
  export MOUSE_EMULATOR="$work/mouse.sock"

  # The emulator prints its MOUSE_EMULATOR line once it serves.
  mkfifo "$work/emu.out"
  "$emu" --socket "$MOUSE_EMULATOR" serve >"$work/emu.out" 2>"$work/emu.err" &
  pids+=($!)
  emu_pid=$!
  exec 3<"$work/emu.out"
  if ! read -r -t 20 -u 3 first || [ "$first" != "MOUSE_EMULATOR=$MOUSE_EMULATOR" ]; then
    cat "$work/emu.err"; echo "FAIL the emulated mouse did not start"; exit 1
  fi

  "$root$prefix/bin/tessold" >"$work/tessold.log" 2>&1 &
  tessold_pid=$!
  pids+=("$tessold_pid")
  "$root$prefix/bin/Marvane" >"$work/Marvane.log" 2>&1 &
  marvane_pid=$!
  pids+=("$marvane_pid")

  # Marvane's start-up shows the light view, which previews the LED on the
  # mouse: command 4 latches the LED bytes.
  led=none
  for _ in $(seq 1 300); do
    led=$("$emu" --socket "$MOUSE_EMULATOR" led 2>/dev/null || echo none)
    [ "$led" != none ] && break
    kill -0 "$marvane_pid" 2>/dev/null || break
    sleep 0.1
  done
  expect "the configurator previewed the LED on the emulated mouse ($led)" test "$led" != none
  expect "tessold runs" kill -0 "$tessold_pid"
  expect "Marvane runs" kill -0 "$marvane_pid"

  # stop <pid>: SIGTERM, then wait, bounded by a watchdog; the status in $s.
  stop() {
    local pid="$1" dog
    kill -TERM "$pid" 2>/dev/null || true
    ( w=; trap 'kill $w 2>/dev/null; exit 0' TERM; sleep 20 & w=$!; wait "$w"; kill -KILL "$pid" 2>/dev/null ) &
    dog=$!
    set +e; wait "$pid"; s=$?; set -e
    kill -TERM "$dog" 2>/dev/null || true
    wait "$dog" 2>/dev/null || true
  }
  stop "$tessold_pid"
  expect "tessold ends on SIGTERM with status 0 (got $s)" test "$s" = 0
  stop "$marvane_pid"
  expect "Marvane ends (status 0, or ended by SIGTERM; got $s)" test "$s" = 0 -o "$s" = 143
  kill -TERM "$emu_pid" 2>/dev/null || true
  wait "$emu_pid" 2>/dev/null || true
  exec 3<&-
  if [ "$failures" != 0 ]; then
    echo "--- tessold"; cat "$work/tessold.log"; echo "--- Marvane"; cat "$work/Marvane.log"
  fi
fi

[ "$failures" = 0 ]
