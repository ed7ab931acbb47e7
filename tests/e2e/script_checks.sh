# The checks of an end-to-end script, sourced by it: fail counts a failed check and goes
# on, die ends the script at once (a set-up that did not work).
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
die() {
  echo "$*" >&2
  exit 1
}
