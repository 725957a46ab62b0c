# ktest_gtest WHAT BINARY [ARGS...]: runs a GoogleTest program and turns its
# result into one PASS or FAIL line per test ("WHAT: <test>"). A skipped test
# is a failure here: the kernel test run exists to give these tests what they
# need. A program that ends badly without naming a failed test (a sanitizer
# report, a crash) fails as a whole. Its output stays in the check's log.
#
# The tests that ran are compared with the ones expected: those a
# --gtest_filter of whole names lists (a test renamed out of the list would
# otherwise drop out unseen), or, without a filter, every test the program
# lists (a program that stops half-way leaves some out). Each one expected
# that did not run is a failure, and so is one that ran unexpected. A filter
# with wildcards or exclusions has no list to hold the run to: refused.
ktest_gtest() {
  local what=$1 bin=$2 out rc line name seen=0 bad=0 arg filter="" suite
  shift 2
  if [ ! -x "$bin" ]; then
    fail "$what: $bin is not built"
    return 1
  fi
  for arg in "$@"; do
    case "$arg" in --gtest_filter=*) filter=${arg#--gtest_filter=} ;; esac
  done
  local -A expected=() ran=()
  local order=()
  if [ -n "$filter" ]; then
    case "$filter" in
      *[*?-]*)
        fail "$what: the filter '$filter' names no exact list of tests"
        return 1 ;;
    esac
    IFS=: read -r -a order <<<"$filter"
  else
    # "Suite." on a line of its own, then each test indented under it.
    while IFS= read -r line; do
      line=${line%%#*}
      line=${line%"${line##*[! ]}"}
      case "$line" in
        "") ;;
        " "*) order+=("$suite${line##* }") ;;
        *) suite=$line ;;
      esac
    done < <("$bin" --gtest_list_tests 2>/dev/null)
    if [ ${#order[@]} = 0 ]; then
      fail "$what: $bin lists no test"
      return 1
    fi
  fi
  for name in "${order[@]}"; do expected[$name]=1; done

  out="${KTEST_TMP:-/tmp}/$(basename "$bin").$$.out"
  "$bin" "$@" 2>&1 | tee "$out"
  rc=${PIPESTATUS[0]}
  while IFS= read -r line; do
    case "$line" in
      "[       OK ] "*)
        name=${line#"[       OK ] "}
        name=${name% (*}
        pass "$what: $name"
        ran[$name]=1 seen=1 ;;
      "[  FAILED  ] "*" ms)")
        name=${line#"[  FAILED  ] "}
        name=${name% (*}
        fail "$what: $name"
        ran[$name]=1 seen=1 bad=1 ;;
      "[  SKIPPED ] "*" ms)")
        name=${line#"[  SKIPPED ] "}
        name=${name% (*}
        fail "$what: $name was skipped"
        ran[$name]=1 seen=1 bad=1 ;;
    esac
  done <"$out"
  for name in "${order[@]}"; do
    if [ -z "${ran[$name]+set}" ]; then
      fail "$what: $name did not run (no such test in ${bin##*/}, or it stopped before it)"
      bad=1
    fi
  done
  for name in "${!ran[@]}"; do
    if [ -z "${expected[$name]+set}" ]; then
      fail "$what: $name ran, but is not among the tests expected"
      bad=1
    fi
  done
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
