# ktest_gtest WHAT BINARY [ARGS...]: runs a GoogleTest program and turns its
# result into one PASS or FAIL line per test ("WHAT: <test>"). A skipped test
# is a failure here: the kernel test run exists to give these tests what they
# need. A program that ends badly without naming a failed test (a sanitizer
# report, a crash) fails as a whole. Its output stays in the check's log.
ktest_gtest() {
  local what=$1 bin=$2 out rc line name seen=0 bad=0
  shift 2
  if [ ! -x "$bin" ]; then
    fail "$what: $bin is not built"
    return 1
  fi
  out="${KTEST_TMP:-/tmp}/$(basename "$bin").$$.out"
  "$bin" "$@" 2>&1 | tee "$out"
  rc=${PIPESTATUS[0]}
  while IFS= read -r line; do
    case "$line" in
      "[       OK ] "*)
        name=${line#"[       OK ] "}
        pass "$what: ${name% (*}"
        seen=1 ;;
      "[  FAILED  ] "*" ms)")
        name=${line#"[  FAILED  ] "}
        fail "$what: ${name% (*}"
        seen=1 bad=1 ;;
      "[  SKIPPED ] "*" ms)")
        name=${line#"[  SKIPPED ] "}
        fail "$what: ${name% (*} was skipped"
        seen=1 bad=1 ;;
    esac
  done <"$out"
  if [ "$seen" = 0 ]; then
    fail "$what: no test ran (status $rc)"
    return 1
  fi
  if [ "$rc" != 0 ] && [ "$bad" = 0 ]; then
    fail "$what: ended with status $rc after its tests (see its log)"
    return 1
  fi
  [ "$bad" = 0 ]
}
