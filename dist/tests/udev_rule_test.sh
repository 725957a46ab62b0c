#!/usr/bin/env bash
# The udev rule made from config.ini, as a table: config.ini's list -> the
# rule lines. Usage: udev_rule_test.sh <gaming-mouse-udev-rule>
set -euo pipefail
tool="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

line() {  # vid pid
  printf 'SUBSYSTEM=="hidraw", ATTRS{idVendor}=="%s", ATTRS{idProduct}=="%s", TAG+="uaccess"' "$1" "$2"
}

# check <name> <config.ini content> <expected rule lines, one a line>
check() {
  local name="$1" ini="$2" expected="$3" got
  printf '%b' "$ini" > "$work/config.ini"
  got=$("$tool" --config "$work/config.ini" --print | grep -v '^#' || true)
  if [ "$got" != "$expected" ]; then
    echo "FAIL $name"
    echo "  expected:"; printf '%s\n' "$expected" | sed 's/^/    /'
    echo "  got:"; printf '%s\n' "$got" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

check "two IDs and one without numbers" \
  '[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&Col02\nid2=HID\\VID_046D&PID_C52B&MI_01&Col03\nid3=HID_DEVICE_UP:FFA0_U:0001\n' \
  "$(line 1209 0001)
$(line 046d c52b)"
check "upper-case hex becomes lower-case" \
  '[IncludeHIDDeviceList]\nid1=HID\\VID_ABCD&PID_EF01\n' \
  "$(line abcd ef01)"
check "lower-case ID, section and key names" \
  '[includehiddevicelist]\nID1=hid\\vid_abcd&pid_00ef&col02\n' \
  "$(line abcd 00ef)"
check "one pair listed twice gives one line" \
  '[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&REV_0100&Col02\nid2=HID\\VID_1209&PID_0001&Col02\nid3=hid\\vid_1209&pid_0001\n' \
  "$(line 1209 0001)"
check "a vendor number without a product number adds nothing" \
  '[IncludeHIDDeviceList]\nid1=HID\\VID_1209&UP:FFA0_U:0001\nid2=HID_DEVICE\n' \
  ""
check "the list ends at the first empty value" \
  '[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001\nid2=\nid3=HID\\VID_1234&PID_5678\n' \
  "$(line 1209 0001)"
check "id1 missing: no list" \
  '[IncludeHIDDeviceList]\nid2=HID\\VID_1234&PID_5678\n' \
  ""
check "one pair of quotes around a value is dropped; a quoted empty value ends the list" \
  "[IncludeHIDDeviceList]\nid1=\"HID\\\\VID_1209&PID_0001\"\nid2='HID\\\\VID_1234&PID_5678'\nid3=\"\"\nid4=HID\\\\VID_ABCD&PID_EF01\n" \
  "$(line 1209 0001)
$(line 1234 5678)"
check "no section" \
  '[options]\nprofileFolder=Profile\n' \
  ""
check "CR LF, blanks around names and values, comments" \
  '; mice\r\n[ IncludeHIDDeviceList ]\r\n; the emulated one\r\n id1 = HID\\VID_1209&PID_0001&Col02 \r\n' \
  "$(line 1209 0001)"
check "lone CR ends a line; a broken section line changes nothing" \
  '[IncludeHIDDeviceList]\rid1=HID\\VID_1209&PID_0001\r[broken\rid2=HID\\VID_1234&PID_5678\r' \
  "$(line 1209 0001)
$(line 1234 5678)"
check "the first section of the name wins, and the first key" \
  '[IncludeHIDDeviceList]\nid1=HID\\VID_1111&PID_2222\nid1=HID\\VID_3333&PID_4444\n[other]\nid2=HID\\VID_5555&PID_6666\n[IncludeHIDDeviceList]\nid2=HID\\VID_7777&PID_8888\n' \
  "$(line 1111 2222)"
check "a USB ID and numbers longer than four digits" \
  '[IncludeHIDDeviceList]\nid1=USB\\VID_1209&PID_0001&MI_00\nid2=HID\\VID_12345&PID_0001\n' \
  "$(line 1209 0001)"

# Writing: the file holds the lines, mode 0644; --ids lists the pairs.
printf '[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&Col02\nid2=HID\\VID_046D&PID_C52B\nid3=HID_DEVICE\n' > "$work/config.ini"
"$tool" --config "$work/config.ini" --output "$work/rules.d/70-gaming-mouse.rules" --no-reload >/dev/null
if [ "$(grep -v '^#' "$work/rules.d/70-gaming-mouse.rules")" = "$(line 1209 0001; echo; line 046d c52b)" ] &&
   [ "$(stat -c %a "$work/rules.d/70-gaming-mouse.rules")" = 644 ] &&
   ! grep -q MODE "$work/rules.d/70-gaming-mouse.rules" &&
   [ -z "$(find "$work/rules.d" -name '.gaming-mouse-rules.*')" ]; then
  echo "ok   writes the rule file"
else
  echo "FAIL writes the rule file"; failures=$((failures + 1))
fi
if [ "$("$tool" --config "$work/config.ini" --ids)" = "1209 0001
046d c52b" ]; then echo "ok   --ids"; else echo "FAIL --ids"; failures=$((failures + 1)); fi

# Errors: a missing config.ini, an unknown argument, a folder it cannot write.
set +e
msg=$("$tool" --config "$work/none.ini" --print 2>&1); rc=$?
set -e
if [ "$rc" = 1 ] && [[ "$msg" == *"cannot read $work/none.ini"* ]]; then echo "ok   missing config.ini"; else echo "FAIL missing config.ini ($rc: $msg)"; failures=$((failures + 1)); fi
set +e
"$tool" --bogus >/dev/null 2>&1; rc=$?
set -e
if [ "$rc" = 2 ]; then echo "ok   unknown argument"; else echo "FAIL unknown argument ($rc)"; failures=$((failures + 1)); fi
if [ "$(id -u)" != 0 ]; then
  mkdir "$work/locked" && chmod 0555 "$work/locked"
  set +e
  msg=$("$tool" --config "$work/config.ini" --output "$work/locked/70-gaming-mouse.rules" --no-reload 2>&1); rc=$?
  set -e
  if [ "$rc" = 1 ] && [[ "$msg" == *"run it as root"* ]]; then echo "ok   unwritable folder"; else echo "FAIL unwritable folder ($rc: $msg)"; failures=$((failures + 1)); fi
fi

[ "$failures" = 0 ]
