#!/usr/bin/env bash
# The customer page's server side: what it lists, the QR code it draws, and that only a
# payment still waiting for the customer can be paid, rejected or cancelled.
#   customer-page-test.sh   (TOLVARO_SANDBOX: the running fixture's info file)
set -u
info=${TOLVARO_SANDBOX:?}
http=$(sed -n 's/^http=//p' "$info")
https=$(sed -n 's/^https=//p' "$info")
ca=$(sed -n 's/^ca_pem=//p' "$info")
key="page-$$-$RANDOM"
failures=0; passed=0
check() {  # check NAME CONDITION-RESULT
  if [ "$2" = 0 ]; then passed=$((passed + 1)); else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
status_of() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
new_payment() {  # amount in minor units -> PaymentId
  curl -s -X POST "$http/v2/Init" -d "{\"Amount\":$1,\"OrderId\":\"O$RANDOM\",\"TerminalKey\":\"$key\"}" |
    sed -n 's/.*"PaymentId":"\([^"]*\)".*/\1/p'
}

curl -s -X POST "$http/_control/terminals" -d "{\"TerminalKey\":\"$key\",\"Password\":\"secret\"}" >/dev/null
page=$(curl -s "$http/customer")
check "the page is one self-contained HTML document" \
  $(printf '%s' "$page" | grep -q '<title>Sandbox bank: customer</title>' && ! printf '%s' "$page" | grep -Eq '(src|href)="(https?:)?//'; echo $?)

a=$(new_payment 12345) b=$(new_payment 500) c=$(new_payment 700)
list=$(curl -s "$http/customer/payments")
check "the list shows amount, status and QR payload" \
  $(printf '%s' "$list" | grep -q "{\"PaymentId\":\"$a\",\"TerminalKey\":\"$key\",\"Amount\":12345,\"Refunded\":0,\"Status\":\"NEW\",\"Open\":true,\"Polls\":0,\"Data\":\"https://qr.sandbox.example/$a?amount=12345\"}"; echo $?)

svg=$(curl -s "$http/customer/qr/$a.svg")
check "the QR code is an SVG drawn here" $(printf '%s' "$svg" | grep -q '^<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 [0-9]* [0-9]*".*M4 4h1v1h-1z'; echo $?)
check "no QR code for an unknown payment" $([ "$(status_of "$http/customer/qr/999.svg")" = 404 ]; echo $?)

check "pay" $([ "$(status_of -X POST -d '' "$http/customer/payments/$a/pay")" = 200 ]; echo $?)
check "reject" $([ "$(status_of -X POST -d '' "$http/customer/payments/$b/reject")" = 200 ]; echo $?)
check "cancel" $([ "$(status_of -X POST -d '' "$http/customer/payments/$c/cancel")" = 200 ]; echo $?)
list=$(curl -s "$http/customer/payments")
check "the decisions show" $(printf '%s' "$list" | grep -q "\"PaymentId\":\"$a\"[^}]*\"Status\":\"CONFIRMED\",\"Open\":false" &&
  printf '%s' "$list" | grep -q "\"PaymentId\":\"$b\"[^}]*\"Status\":\"REJECTED\"" &&
  printf '%s' "$list" | grep -q "\"PaymentId\":\"$c\"[^}]*\"Status\":\"CANCELED\""; echo $?)
check "a decided payment cannot be decided again" $([ "$(status_of -X POST -d '' "$http/customer/payments/$a/cancel")" = 409 ]; echo $?)
check "an unknown action is refused" $([ "$(status_of -X POST -d '' "$http/customer/payments/$a/steal")" = 404 ]; echo $?)
check "only GET serves the page" $([ "$(status_of -X POST -d '' "$http/customer")" = 405 ]; echo $?)
check "not on the bank's HTTPS listener" $([ "$(status_of --cacert "$ca" "$https/customer")" = 404 ]; echo $?)

echo "$passed passed, $failures failed"
[ $failures = 0 ]
