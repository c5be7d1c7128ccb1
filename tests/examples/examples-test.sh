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
key="examples-$$-$RANDOM"
password="examples-secret-$RANDOM$RANDOM"
curl -sf -X POST "$http/_control/terminals" -d "{\"TerminalKey\":\"$key\",\"Password\":\"$password\"}" >/dev/null ||
  { echo "FAIL: the sandbox did not take the terminal"; exit 1; }
# The customer pays at the third status request of each payment.
curl -sf -X POST "$http/_control/terminals/$key/behaviour" -d '{"Outcome":"CONFIRMED","AfterPolls":2}' >/dev/null ||
  { echo "FAIL: the sandbox did not take the behaviour"; exit 1; }

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

common=("/host:$http/v2" "/key:$key" "/password:$password")
declare -A transcript
for example in session.vbs session.js; do
  extra=()
  # Wine's VBScript cannot be called back through a VBScript class: the manager of manager.wsc.
  [ "$example" = session.vbs ] && extra=("/devices:$(windows_path "$WORK/devices")" /manager:TolvaroExample.EquipmentManager)
  started=$SECONDS
  "$WINE_RUN" cscript.exe //nologo "$(windows_path "$WORK/$example")" "${common[@]}" "${extra[@]}" >"$WORK/$example.raw" 2>&1
  rc=$?
  iconv -f CP866 -t UTF-8 "$WORK/$example.raw" | tr -d '\r' >"$WORK/$example.out"
  echo "== $example (exit code $rc, $((SECONDS - started)) s)"
  cat "$WORK/$example.out"
  [ "$rc" = 0 ] || fail "$example exited $rc"
  # Wine's cscript reports no script error and exits 0 after one: the last line says it ran through.
  [ "$(tail -n 1 "$WORK/$example.out")" = "Session done" ] || fail "$example did not run to its end"
  for line in \
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
    'After Disable: 70 Устройство не включено'; do
    grep -Eq "^$line" "$WORK/$example.out" || fail "$example: no line '$line'"
  done
  # The same story in both languages: alike but for the payment's number and the receipts' time.
  transcript[$example]=$(sed -E 's/7[0-9]{8}/ID/g; s/^Дата: .*$/DATE/' "$WORK/$example.out")
done
if [ "${transcript[session.vbs]}" != "${transcript[session.js]}" ]; then
  fail "the two examples tell different stories:"
  diff <(echo "${transcript[session.vbs]}") <(echo "${transcript[session.js]}")
fi

# The bank's side: two payments of 12.34, each paid and refunded 2.34 once, nothing else.
curl -sf "$http/_control/terminals/$key/payments" >"$WORK/payments.json" || fail "no ledger from the sandbox"
python3 - "$WORK/payments.json" <<'PY' || failures=$((failures + 1))
import json, sys
payments = json.load(open(sys.argv[1]))
seen = sorted((p["Amount"], p["Refunded"], p["Status"]) for p in payments)
want = [(1234, 234, "PARTIAL_REFUNDED")] * 2
if seen != want:
    print("FAIL: the ledger holds", seen, "instead of", want)
    sys.exit(1)
print("ledger: two payments of 12.34, each refunded 2.34")
PY

# The debug log (DebugLogEnabled=True) has the session's bank exchange, and no file of the device
# folder or of the default log folder holds the terminal's password.
logs=("$WORK/devices" "$PREFIX/drive_c/ProgramData/tolvaro")
grep -rlaF --include='Debug_*.log' "\"TerminalKey\":\"$key\"" "${logs[@]}" >/dev/null 2>&1 ||
  fail "no debug log holds the session's bank requests"
if grep -rlaF "$password" "${logs[@]}" 2>/dev/null; then fail "the password is in the file(s) above"; fi

echo "$failures failed"
[ "$failures" = 0 ]
