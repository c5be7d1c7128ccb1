#!/usr/bin/env bash
# The call examples of docs/examples as an integrator runs them: the registered DLL, the
# prefix's own cscript.exe and script engines, the bank sandbox (TOLVARO_SANDBOX).
#   examples-test.sh WINE_RUN BIN_DIR EXAMPLES_DIR WINEPREFIX
# BIN_DIR holds tolvaro.dll. session.vbs (with the equipment manager of manager.wsc) and session.js
# (through calls.wsc) take the same payment each; both must end as planned, print the driver's
# texts, and tell the same story; the sandbox's ledger must show what they did.
# The expected texts are the Russian ones: the tree runs Wine in the Russian locale, whose console
# code page (866) cscript writes in when its output is not a console.
set -u
WINE_RUN=$1 BIN=$2 EXAMPLES=$3 PREFIX=$4
WORK=$(mktemp -d "${TMPDIR:-/tmp}/examples.XXXXXX")
failures=0
registered=()
cleanup() {
  local i
  # Last in, first out; each one tried even when another fails.
  for ((i = ${#registered[@]} - 1; i >= 0; i--)); do
    # shellcheck disable=SC2086
    "$WINE_RUN" --regsvr32 /u ${registered[i]} >/dev/null 2>&1
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

http=$(sed -n 's/^http=//p' "${TOLVARO_SANDBOX:?the sandbox fixture sets TOLVARO_SANDBOX}")
[ -n "$http" ] || { echo "FAIL: no http= line in $TOLVARO_SANDBOX"; exit 1; }
password="examples-secret-$RANDOM$RANDOM"
# A terminal of its own for each run: terminal KEY BEHAVIOUR [SCRIPT...] (the sandbox's control
# interface: how its payments end, and the scripted answers that stand in for a failure).
terminal() {
  local key=$1 behaviour=$2 script
  shift 2
  curl -sf -X POST "$http/_control/terminals" -d "{\"TerminalKey\":\"$key\",\"Password\":\"$password\"}" >/dev/null &&
    curl -sf -X POST "$http/_control/terminals/$key/behaviour" -d "$behaviour" >/dev/null ||
    { echo "FAIL: the sandbox did not take the terminal $key"; exit 1; }
  for script in "$@"; do
    curl -sf -X POST "$http/_control/terminals/$key/script" -d "$script" >/dev/null ||
      { echo "FAIL: the sandbox did not take the script $script"; exit 1; }
  done
}

cp "$BIN/tolvaro.dll" "$WORK/" && cp "$EXAMPLES"/* "$WORK/" || { echo "FAIL: cannot copy the DLL and the examples"; exit 1; }
mkdir -p "$WORK/devices/Till1"
register() {
  registered+=("$*")
  # shellcheck disable=SC2068
  "$WINE_RUN" --regsvr32 $@ >/dev/null || { echo "FAIL: regsvr32 $*: exit code $?"; exit 1; }
}
register "$(windows_path "$WORK/tolvaro.dll")"
register /n "/i:$(windows_path "$WORK/manager.wsc")" scrobj.dll
register /n "/i:$(windows_path "$WORK/calls.wsc")" scrobj.dll

# run SCENARIO EXAMPLE KEY EXPECTED_EXIT LINE...: the example against the terminal KEY; it must end
# with EXPECTED_EXIT and hold each LINE (an extended regular expression for a whole line's start).
# Its transcript, but for payment numbers, the receipts' time and the words of a transport error
# (a reset connection is read as one error or another, as the timing falls), goes into
# transcript[SCENARIO EXAMPLE].
declare -A transcript
run() {
  local scenario=$1 example=$2 key=$3 want=$4 extra=() line out rc started
  shift 4
  out="$WORK/$scenario.$example"
  # Wine's VBScript cannot be called back through a VBScript class: the manager of manager.wsc.
  [ "$example" = session.vbs ] && extra=("/devices:$(windows_path "$WORK/devices")" /manager:TolvaroExample.EquipmentManager)
  started=$SECONDS
  "$WINE_RUN" cscript.exe //nologo "$(windows_path "$WORK/$example")" "/host:$http/v2" "/key:$key" "/password:$password" \
    "${extra[@]}" >"$out.raw" 2>&1
  rc=$?
  iconv -f CP866 -t UTF-8 "$out.raw" | tr -d '\r' >"$out.out"
  echo "== $scenario: $example (exit code $rc, $((SECONDS - started)) s)"
  cat "$out.out"
  [ "$rc" = "$want" ] || fail "$scenario: $example exited $rc, not $want"
  for line in "$@"; do
    grep -Eq "^$line" "$out.out" || fail "$scenario: $example: no line '$line'"
  done
  transcript[$scenario $example]=$(sed -E 's/7[0-9]{8}/ID/g; s/^Дата: .*$/DATE/; s/(Error [a-z]+ data: ).*/\1.../' "$out.out")
}

# The same story in both languages.
same_story() {
  if [ "${transcript[$1 session.vbs]}" != "${transcript[$1 session.js]}" ]; then
    fail "$1: the two examples tell different stories:"
    diff <(echo "${transcript[$1 session.vbs]}") <(echo "${transcript[$1 session.js]}")
  fi
}

# The session as planned, both examples on one terminal: the customer pays at the third status
# request of each payment.
key="examples-$$-$RANDOM"
terminal "$key" '{"Outcome":"CONFIRMED","AfterPolls":2}'
for example in session.vbs session.js; do
  run planned "$example" "$key" 0 \
    'Init: Нет ошибок' \
    'Pay: paid 12.34, payment [0-9]+' \
    'Операция: +оплата' \
    'GetQrCodeStatus: status 2, left 12.34' \
    'Refund: 2.34 returned, refund [0-9]+' \
    'Операция: +возврат' \
    'GetQrCodeStatus: left 10.00' \
    'Refund of more than is left: 1001 Сумма возврата превышает остаток платежа' \
    '  left 10.00, unchanged' \
    'UnregisterQrCode of a paid QR code: 1001 Операция невозможна в текущем статусе платежа' \
    'TimeOut 1.5: refused by COM, error 5, not run' \
    'After Disable: 70 Устройство не включено' \
    'Session done$'
done
same_story planned

declare -A late_key lost_key
# Pay fails at its first status request; the code is still shown, so the example withdraws it,
# but the customer has paid in that last second: the withdrawal is refused, and the status asked
# again says paid. The sale goes on.
for example in session.vbs session.js; do
  late_key[$example]="examples-late-$$-$RANDOM"
  terminal "${late_key[$example]}" '{"Outcome":"CONFIRMED","AfterPolls":1}' \
    '{"Operation":"GetState","Times":1,"Answer":{"Kind":"error","ErrorCode":"9","Message":"Ошибка","Details":"Подробности"}}' \
    '{"Operation":"Cancel","Times":1,"Answer":{"Kind":"error","ErrorCode":"105","Message":"Операция невозможна в текущем статусе платежа","Details":"Оплачен"}}'
  run late "$example" "${late_key[$example]}" 0 \
    'Pay: 1001 Ошибка Подробности' \
    'UnregisterQrCode: 1001 Операция невозможна в текущем статусе платежа Оплачен' \
    '  the bank says it is paid after all' \
    'GetQrCodeStatus: status 2, left 12.34' \
    'Refund: 2.34 returned' \
    'Session done$'
done
same_story late

# The refund's answer is lost, and so is the status asked after it: the outcome is unknown, and
# the example says so instead of "not made".
for example in session.vbs session.js; do
  lost_key[$example]="examples-lost-$$-$RANDOM"
  terminal "${lost_key[$example]}" '{"Outcome":"CONFIRMED","AfterPolls":0}' \
    '{"Operation":"Cancel","Times":1,"Answer":{"Kind":"drop"}}' \
    '{"Operation":"GetState","Skip":2,"Times":1,"Answer":{"Kind":"drop"}}'
  run lost "$example" "${lost_key[$example]}" 1 \
    'Pay: paid 12.34' \
    'Refund: 1001 ' \
    "FAILED: the refund's outcome is unknown: do not repeat it; ask GetQrCodeStatus later and compare what is left with 12.34$"
done
same_story lost

# The bank's side: ledger KEY (AMOUNT, REFUNDED, STATUS)... in minor units, nothing else.
ledger() {
  local key=$1
  shift
  curl -sf "$http/_control/terminals/$key/payments" >"$WORK/payments.json" || { fail "no ledger of $key from the sandbox"; return; }
  python3 - "$WORK/payments.json" "$key" "$@" <<'PY' || failures=$((failures + 1))
import json, sys
payments = json.load(open(sys.argv[1]))
seen = sorted((p["Amount"], p["Refunded"], p["Status"]) for p in payments)
want = sorted(tuple(int(x) if x.isdigit() else x for x in w.split(",")) for w in sys.argv[3:])
if seen != want:
    print("FAIL: the ledger of", sys.argv[2], "holds", seen, "instead of", want)
    sys.exit(1)
print("ledger of", sys.argv[2] + ":", seen)
PY
}
# Two payments of 12.34, each refunded 2.34 once; the late payment too; the lost refund not made.
ledger "$key" 1234,234,PARTIAL_REFUNDED 1234,234,PARTIAL_REFUNDED
for example in session.vbs session.js; do
  ledger "${late_key[$example]}" 1234,234,PARTIAL_REFUNDED
  ledger "${lost_key[$example]}" 1234,0,CONFIRMED
done

# The debug log (DebugLogEnabled=True) has the session's bank exchange, and no file of the device
# folder or of the default log folder holds the terminal's password.
logs=("$WORK/devices" "$PREFIX/drive_c/ProgramData/tolvaro")
grep -rlaF --include='Debug_*.log' "\"TerminalKey\":\"$key\"" "${logs[@]}" >/dev/null 2>&1 ||
  fail "no debug log holds the session's bank requests"
if grep -rlaF "$password" "${logs[@]}" 2>/dev/null; then fail "the password is in the file(s) above"; fi

echo "$failures failed"
[ "$failures" = 0 ]
