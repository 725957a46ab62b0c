#!/usr/bin/env bash
# The udev rule as a user installs it, applied by Debian's udev daemon to real
# USB devices: the kernel's dummy USB host with HID gadgets made in configfs.
# A mouse whose vendor and product numbers are in config.ini gets the
# "uaccess" tag on its hidraw node, early enough for systemd's seat rules to
# hand the node to the user at the seat; other devices do not. A mouse added
# to config.ini in the "&MI_" form (a device with two interfaces) gets it once
# gaming-mouse-udev-rule has been run, without being plugged again.
source "$MOUSE_SRC/tests/kernel/lib.sh"

gadgets=/sys/kernel/config/usb_gadget
rule_tool="$MOUSE_BUILD/dist/gaming-mouse-udev-rule"
# The rule file and the place the install puts it, from the build's install
# script: its number decides whether it comes before systemd's seat rules.
install_line=$(grep -m 1 'FILE FILES ".*\.rules"' "$MOUSE_BUILD/dist/cmake_install.cmake")
built_rule=$(sed 's/.*FILES "\([^"]*\)".*/\1/' <<<"$install_line")
rules=$(sed 's/.*DESTINATION "\([^"]*\)".*/\1/' <<<"$install_line")/${built_rule##*/}

if [ -z "${KTEST_VM:-}" ]; then
  skip "the udev rule check installs a rule and starts udev: only in the virtual machine"
  exit 0
fi

# Interface report descriptors. "vendor": the mouse's vendor collection alone
# (usage page 0xFFA0, usage 1, input reports 7 and 8). "two": a mouse
# collection first, the vendor collection second (Col02).
desc_vendor='\x06\xa0\xff\x09\x01\xa1\x01\x15\x00\x26\xff\x00\x75\x08\x95\x07'
desc_vendor+='\x85\x07\x09\x07\x81\x02\x85\x08\x09\x08\x81\x02\xc0'
desc_mouse='\x05\x01\x09\x02\xa1\x01\x85\x01\x09\x01\xa1\x00\x05\x09\x19\x01\x29\x03'
desc_mouse+='\x15\x00\x25\x01\x95\x03\x75\x01\x81\x02\x95\x01\x75\x05\x81\x01'
desc_mouse+='\x05\x01\x09\x30\x09\x31\x15\x81\x25\x7f\x75\x08\x95\x02\x81\x06\xc0\xc0'
desc_keyboardish='\x05\x01\x09\x06\xa1\x01\x05\x07\x19\xe0\x29\xe7\x15\x00\x25\x01'
desc_keyboardish+='\x75\x01\x95\x08\x81\x02\x95\x01\x75\x08\x81\x01\xc0'

udcs=($(ls /sys/class/udc))
made=()

# plug NAME VID PID DESCRIPTOR...: a USB device with one HID interface per
# descriptor (interface numbers 0, 1, ...), bound to the next free dummy
# device controller.
plug() {
  local name=$1 vid=$2 pid=$3
  shift 3
  local g="$gadgets/$name" i=0 desc
  mkdir "$g" || return 1
  made+=("$name")
  echo "0x$vid" >"$g/idVendor"
  echo "0x$pid" >"$g/idProduct"
  echo 0x0100 >"$g/bcdDevice"
  echo 0x0200 >"$g/bcdUSB"
  mkdir "$g/strings/0x409"
  echo "Kernel check" >"$g/strings/0x409/manufacturer"
  echo "$name" >"$g/strings/0x409/product"
  echo "$name-0001" >"$g/strings/0x409/serialnumber"
  mkdir "$g/configs/c.1"
  echo 100 >"$g/configs/c.1/MaxPower"
  for desc in "$@"; do
    mkdir "$g/functions/hid.i$i"
    echo 0 >"$g/functions/hid.i$i/protocol"
    echo 0 >"$g/functions/hid.i$i/subclass"
    echo 8 >"$g/functions/hid.i$i/report_length"
    printf %b "$desc" >"$g/functions/hid.i$i/report_desc"
    ln -s "$g/functions/hid.i$i" "$g/configs/c.1/"
    i=$((i + 1))
  done
  echo "${udcs[${#made[@]} - 1]}" >"$g/UDC"
}

unplug_all() {
  local name g f
  for name in "${made[@]}"; do
    g="$gadgets/$name"
    echo "" >"$g/UDC" 2>/dev/null
    rm -f "$g"/configs/c.1/hid.* 2>/dev/null
    for f in "$g"/functions/hid.*; do [ -d "$f" ] && rmdir "$f"; done
    rmdir "$g/configs/c.1" "$g/strings/0x409" "$g" 2>/dev/null
  done
  made=()
}

cleanup() {
  unplug_all
  ktest_udevd_stop
  rm -f "$rules"
}
trap cleanup EXIT

# hidraw_of VID PID INTERFACE: the /dev node of that interface of that USB
# device, once the kernel has made it (at most 20 s).
hidraw_of() {
  local vid=$1 pid=$2 intf=$3 i h v p n
  for ((i = 0; i < 1000; i++)); do
    for h in /sys/class/hidraw/hidraw*; do
      # hidrawN/device is the HID device; above it the USB interface, then
      # the USB device.
      read -r n <"$h/device/../bInterfaceNumber" 2>/dev/null || continue
      read -r v <"$h/device/../../idVendor" 2>/dev/null || continue
      read -r p <"$h/device/../../idProduct" 2>/dev/null || continue
      if [ "$n" = "$intf" ] && [ "$v" = "$vid" ] && [ "$p" = "$pid" ]; then
        echo "/dev/${h##*/}"
        return 0
      fi
    done
    sleep 0.02
  done
  return 1
}

# tagged NODE: udev's database gives NODE the uaccess tag.
tagged() {
  udevadm info --query=property --name="$1" | grep -Eq '^TAGS=(.*:)?uaccess(:|$)'
}

# seat_rule_runs NODE: when the daemon handled NODE's arrival, systemd's
# 73-seat-late.rules saw the tag and queued the builtin that hands the node
# to the user at the seat; a rule numbered 73 or later tags it too late.
seat_rule_runs() {
  grep -Eq "^${1##*/}: .*/73-seat-late\.rules:[0-9]+ RUN 'uaccess'" "$ktest_udevd_log"
}

[ -x "$rule_tool" ] || { fail "the build has $rule_tool"; exit 1; }
[ -f "$built_rule" ] || { fail "the build wrote its udev rule"; exit 1; }
[ "${#udcs[@]}" -ge 4 ] || { fail "four dummy USB device controllers (found ${#udcs[@]})"; exit 1; }

# As the install does: the rule made from the shipped config.ini.
mkdir -p "${rules%/*}"
install -m 0644 "$built_rule" "$rules"
if ! ktest_udevd_start; then
  fail "Debian's udev daemon starts"
  exit 1
fi
pass "Debian's udev daemon starts with the installed ${rules##*/}"
udevadm control --log-level=debug

# What config.ini lists (1209:0001), the same vendor with another product,
# and a two-interface device that config.ini does not list yet. (The HID
# gadget function has four instances in all.)
plug listed 1209 0001 "$desc_vendor" &&
  plug other-product 1209 0002 "$desc_vendor" &&
  plug two-interfaces 1234 5678 "$desc_keyboardish" "$desc_mouse$desc_vendor" ||
  { fail "the USB gadgets bind to the dummy controllers"; exit 1; }

declare -A node=()
# find_nodes "VID PID INTERFACE"...: node[VID:PID:INTERFACE] for each.
find_nodes() {
  local spec vid pid intf n ok=0
  for spec in "$@"; do
    read -r vid pid intf <<<"$spec"
    if n=$(hidraw_of "$vid" "$pid" "$intf"); then
      node[$vid:$pid:$intf]=$n
    else
      fail "$vid:$pid interface $intf has a hidraw node"
      ok=1
    fi
  done
  [ "$ok" = 0 ] || return 1
  udevadm settle --timeout=30 || { fail "udev handles the new devices within 30 s"; return 1; }
}
find_nodes "1209 0001 00" "1209 0002 00" "1234 5678 00" "1234 5678 01" || exit 1
pass "each USB gadget interface has its hidraw node"

n=${node[1209:0001:00]}
check "1209:0001 (config.ini's id1) gets uaccess on $n" tagged "$n"
check "the seat rules (73-seat-late) act on that tag for $n" seat_rule_runs "$n"
for key in 1209:0002:00 1234:5678:00 1234:5678:01; do
  n=${node[$key]}
  if tagged "$n"; then
    fail "${key%:*} (not in config.ini) has no uaccess on $n"
  else
    pass "${key%:*} (not in config.ini) has no uaccess on $n"
  fi
done

# The user adds the two-interface mouse as the README says, the vendor
# collection being the second of interface 01, and runs the rule command.
config="$KTEST_TMP/config.ini"
sed 's/^id1=.*/&\nid2=HID\\VID_1234\&PID_5678\&MI_01\&Col02/' "$MOUSE_BUILD/program/config.ini" >"$config"
grep -q '^id2=HID\\VID_1234&PID_5678&MI_01&Col02' "$config" || fail "config.ini gains the &MI_ entry"
if "$rule_tool" --config "$config" --output "$rules" >"$KTEST_TMP/rule-tool.log" 2>&1; then
  pass "gaming-mouse-udev-rule rewrites the rule and reloads udev"
else
  cat "$KTEST_TMP/rule-tool.log"
  fail "gaming-mouse-udev-rule rewrites the rule and reloads udev"
fi
udevadm settle --timeout=30 || fail "udev handles the trigger within 30 s"
for key in 1234:5678:01 1234:5678:00 1209:0001:00; do
  n=${node[$key]}
  check "after the &MI_01 entry, ${key%:*} interface ${key##*:} has uaccess on $n, not plugged again" tagged "$n"
done
n=${node[1209:0002:00]}
if tagged "$n"; then fail "1209:0002 still has no uaccess on $n"; else pass "1209:0002 still has no uaccess on $n"; fi

# Plugged again, the rule applies on arrival; beside it, the product number
# of id1 under the vendor number of id2 matches neither.
unplug_all
node=()
plug two-interfaces 1234 5678 "$desc_keyboardish" "$desc_mouse$desc_vendor" &&
  plug other-vendor 1234 0001 "$desc_vendor" ||
  { fail "the gadgets bind again"; exit 1; }
if find_nodes "1234 5678 01" "1234 0001 00"; then
  n=${node[1234:5678:01]}
  check "plugged again, 1234:5678 interface 01 gets uaccess on $n" tagged "$n"
  check "the seat rules act on that tag for $n" seat_rule_runs "$n"
  n=${node[1234:0001:00]}
  if tagged "$n"; then fail "1234:0001 has no uaccess on $n"; else pass "1234:0001 has no uaccess on $n"; fi
fi
ktest_status
