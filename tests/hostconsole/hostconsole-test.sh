#!/usr/bin/env bash
# The host console as a person and a script use it, under Wine:
#   hostconsole-test.sh WINE_RUN BIN_DIR cli       arguments, bad input, exit codes
#   hostconsole-test.sh WINE_RUN BIN_DIR session   one session against the sandbox (TOLVARO_SANDBOX)
# BIN_DIR holds tolvaro_host.exe and tolvaro.dll.
set -u
WINE_RUN=$1 BIN=$2 WHAT=$3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/hostconsole.XXXXXX")
failures=0
REGISTERED=""
cleanup() {
  [ -n "$REGISTERED" ] && "$WINE_RUN" regsvr32 /s /u "$BIN/tolvaro.dll" >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK" || exit 1

# run EXPECTED_EXIT PATTERN ARGS...: the exit code, and PATTERN (grep -E) in the output.
run() {
  local want=$1 pattern=$2
  shift 2
  "$WINE_RUN" "$BIN/tolvaro_host.exe" "$@" >out.txt 2>err.txt
  local got=$?
  cat out.txt err.txt >all.txt
  if [ "$got" != "$want" ]; then
    echo "FAIL: tolvaro_host $* exited $got, expected $want"; cat all.txt; failures=$((failures + 1)); return
  fi
  if ! grep -Eq -- "$pattern" all.txt; then
    echo "FAIL: tolvaro_host $*: no '$pattern' in:"; cat all.txt; failures=$((failures + 1)); return
  fi
  # Bad input gets a message, never a crash report.
  if grep -Eqi 'terminate called|exception|backtrace|wine: Unhandled' all.txt; then
    echo "FAIL: tolvaro_host $*: crash text:"; cat all.txt; failures=$((failures + 1))
  fi
  echo "ok: tolvaro_host $* -> $got"
}

case "$WHAT" in
  cli)
    run 0 'usage: tolvaro_host \[OPTIONS\] COMMAND' --help
    run 2 'usage:' 
    for c in info settings check register pay status refund unregister dialog session; do
      run 0 "usage: tolvaro_host \\[OPTIONS\\] $c" "$c" --help
    done
    run 2 "unknown command 'frobnicate'" frobnicate
    run 2 'unknown option --colour' --colour info
    run 2 '--config needs a value' --config
    run 2 "not an amount: 'abc'" register abc
    run 2 'at most two decimals' register 1.234
    run 2 'above zero' refund 0 700000001
    run 2 'usage: tolvaro_host register AMOUNT' register
    run 2 'usage: tolvaro_host refund AMOUNT ID' refund 1.00
    run 2 'expected Id=value' settings Host
    printf 'Host=https://a.example/v2\nthis line is wrong\n' >bad.ini
    run 2 'bad.ini:2: expected Id=value' --config bad.ini info
    run 2 "unbalanced quote" session 'register 1 "open'
    ;;
  session)
    http=$(sed -n 's/^http=//p' "$TOLVARO_SANDBOX")
    key="hostconsole-$$-$RANDOM"
    # Cyrillic, and no text of the driver's own (the setting's caption is "Пароль").
    password="Секрет-$RANDOM"
    curl -sf -X POST "$http/_control/terminals" -d "{\"TerminalKey\":\"$key\",\"Password\":\"$password\"}" >/dev/null || exit 1
    # The customer pays at the third status request.
    curl -sf -X POST "$http/_control/terminals/$key/behaviour" -d '{"Outcome":"CONFIRMED","AfterPolls":2}' >/dev/null || exit 1
    "$WINE_RUN" regsvr32 /s "$BIN/tolvaro.dll" || { echo "FAIL: regsvr32"; exit 1; }
    REGISTERED=1
    run 0 '"TerminalKey":"'"$key"'"' --json settings "Host=$http/v2" "TerminalKey=$key" "Password=$password" WaitTimeout=60 LineLength=32 \
      DebugLogEnabled=true
    grep -q "Password=$password" tolvaro_host.ini || { echo "FAIL: the settings file keeps what was set"; failures=$((failures + 1)); }
    grep -q '"Password":"\*\*\*"' out.txt || { echo "FAIL: the password is shown masked"; failures=$((failures + 1)); }
    run 2 "unknown setting 'Colour'" settings Colour=red
    run 2 'takes a whole number' settings WaitTimeout=soon
    run 0 '"command":"info","ok":true,"TypeName":"FastPaymentSystem"' --json info
    run 0 '"command":"check","ok":true' --json check
    run 0 '"command":"refund","ok":true' --json session "register 12.34 Заказ" 'pay $QR' 'status $QR' 'refund 2.34 $PAYMENT'
    grep -q '"command":"pay","ok":true,"Amount":12.34,"PaymentID":"' out.txt || { echo "FAIL: pay's JSON"; cat out.txt; failures=$((failures + 1)); }
    grep -q '"command":"status","ok":true,"Status":2,' out.txt || { echo "FAIL: status's JSON"; failures=$((failures + 1)); }
    grep -q '"receipt":".*возврат' out.txt || { echo "FAIL: the refund's receipt"; failures=$((failures + 1)); }
    id=$(sed -n 's/.*"command":"pay","ok":true,"Amount":12.34,"PaymentID":"\([^"]*\)".*/\1/p' out.txt)
    # Human output: receipts in boxes; a refund over what is left is the bank's refusal (exit 1).
    run 0 '│ Операция: +оплата │' status "$id"
    run 1 'refund: failed, result 1001: .*Сумма возврата превышает остаток платежа' refund 100 "$id"
    run 0 'unregister: OK' session "register 5" 'unregister $QR'
    run 1 '"ok":false,"code":1001' --json unregister "$id"
    # The terminal's password never reaches a log of the device folder, in any of the encodings
    # a log may use (the debug log is written in code page 1251).
    if ! find host -name 'Debug_*.log' 2>/dev/null | grep -q .; then
      echo "FAIL: no debug log was written to search"; failures=$((failures + 1))
    fi
    for encoding in UTF-8 CP1251 UTF-16LE; do
      if grep -rqaF -- "$(printf '%s' "$password" | iconv -f UTF-8 -t "$encoding")" host/ 2>/dev/null; then
        echo "FAIL: the password is in a log ($encoding)"; failures=$((failures + 1))
      fi
    done
    ;;
esac
echo "$failures failed"
[ "$failures" = 0 ]
