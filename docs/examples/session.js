// A till's session with the payment driver (ProgID Qelm.tolvaro), in JScript: the same session as
// session.vbs. JScript passes every argument by value and has no SAFEARRAY of its own, so the
// calls whose results come back by reference (OutData, the descriptions of Init and Open) go
// through the script component calls.wsc (register it first, see there), and arrays for InData
// are made with Scripting.Dictionary's Items().
//
// Run it with the cscript of the host's bitness:
//   cscript //nologo session.js /host:URL /key:TERMINAL /password:SECRET [/amount:12.34] [/refund:2.34]
// Exit code: 0 when the session went as planned, 1 when a step failed (the output says which).

// ---- The equipment manager: the host's object the driver calls back. JScript cannot write an
// argument passed by reference, so GetAppProperty answers False ("no such property") for every
// property and reads none of its arguments: the driver then has no devices folder and writes its
// debug log to C:\ProgramData\tolvaro\. This driver calls no other method of the manager; they
// are here with their argument counts.
var manager = {
  GetAppProperty: function (deviceId, propName, value) { return false; },
  DataEvent: function (deviceId, eventName, data, extData) { return true; },
  ErrorEvent: function (deviceId, errorName, description, extData) { return true; },
  MessageDlg: function (deviceId, text, msgType, buttons, timeout) { return 0; },
  InputDataDlg: function (deviceId, caption, defaultData, description, mask, password, timeOut) { return ""; },
  TaskState: function (deviceId, percent, description) { return true; },
  WriteLog: function (deviceId, name, text, eventType) { return true; }
};

// ---- Small helpers

// The value of /name:value on the command line, or byDefault.
function arg(name, byDefault) {
  var found = byDefault, args = WScript.Arguments;
  for (var i = 0; i < args.length; i++) {
    var a = args(i);
    if (a.toLowerCase().indexOf("/" + name.toLowerCase() + ":") == 0) found = a.substr(name.length + 2);
  }
  return found;
}

// A SAFEARRAY of its arguments, as the driver reads InData.
function list() {
  var d = new ActiveXObject("Scripting.Dictionary");
  for (var i = 0; i < arguments.length; i++) d.Add(i, arguments[i]);
  return d.Items();
}

function toArray(safeArray) { return new VBArray(safeArray).toArray(); }

// An amount as "12.34". A till passes amounts as numbers (or Currency), never as text: the
// driver converts text in the user's locale ("12,34" on a Russian Windows).
function money(value) { return Number(value).toFixed(2); }

function say(text) { WScript.Echo(text); }

function quit(text) {
  say("FAILED: " + text);
  WScript.Quit(1);
}

// The bank has not said whether the customer paid: the sale stays open, never "not paid".
function unknown(text) {
  quit(text + ": whether it is paid is unknown; keep the sale open and ask GetQrCodeStatus again later");
}

var calls = new ActiveXObject("TolvaroExample.Calls");
var last = { code: 0, text: "" };

// driver.method(inData, outData, 0): the results, or null with last.code and last.text set.
function call(method, inData) {
  var answer = toArray(calls.CallMethod(driver, method, inData, 0));
  last.code = 0;
  last.text = "";
  if (answer[0]) return answer[1] === undefined ? [] : toArray(answer[1]);
  var error = toArray(answer[1]);
  last.code = error[0];
  last.text = error[1];
  return null;
}

// What is left of a payment after refunds, or -1 when the bank cannot say.
function remaining(qrCodeId) {
  var status = call("GetQrCodeStatus", list(qrCodeId, qrCodeId));
  return status ? status[0] : -1;
}

// ---- The session
var driver;
try {
  driver = new ActiveXObject("Qelm.tolvaro");
} catch (e) {
  quit("Qelm.tolvaro is not registered for this bitness: " + e.message);
}

var answer = toArray(calls.CallWithText(driver, "Init", manager));
if (!answer[0]) quit("Init: " + answer[1]);
say("Init: " + answer[1]);
answer = toArray(calls.CallWithText(driver, "Open", "Till1"));
if (!answer[0]) quit("Open: " + answer[1]);
say("Open: " + answer[1]);

// Settings: a column per setting, row 0 its ID, row 1 its value (the others stay as they are).
// They take effect at the next Enable.
var settings = calls.Table(list("Host", "TerminalKey", "Password", "WaitTimeout", "LineLength", "DebugLogEnabled"),
                           list(arg("host", ""), arg("key", ""), arg("password", ""), 60, 32, true));
if (!call("SetSettings", settings)) quit("SetSettings: " + last.text);
if (!call("Enable", null)) quit("Enable: " + last.text);
say("Enable: the settings are in force (no request went to the bank)");

// Register: two bank requests. Keep the identifiers before anything else: after a crash the
// till asks GetQrCodeStatus for every payment it has not finished (help: "Восстановление").
var sale = Number(arg("amount", "12.34"));
var qr = call("RegisterQrCode", list(sale, "Order 1"));
if (!qr) quit("RegisterQrCode: " + last.code + " " + last.text);
var qrCodeId = qr[0], orderId = qr[3];
say("RegisterQrCode: " + money(sale) + ", show the customer this QR code: " + qr[1]);

// Pay: waits at most WaitTimeout seconds and cannot be interrupted. The identifier goes in
// element 1 (element 0 must be there too): the same one in both.
var paid = call("Pay", list(qrCodeId, orderId)), paymentId;
if (!paid) {
  // 1001 from Pay never means "not paid": the bank decides, so ask it.
  say("Pay: " + last.code + " " + last.text);
  var status = call("GetQrCodeStatus", list(qrCodeId, orderId));
  if (!status) unknown("GetQrCodeStatus: " + last.text);
  if (status[4] == 1) {
    // Still waiting: withdraw the QR code, then ask again, for the customer may have paid in the
    // last second (the withdrawal is then refused).
    if (!call("UnregisterQrCode", list(qrCodeId))) say("UnregisterQrCode: " + last.code + " " + last.text);
    status = call("GetQrCodeStatus", list(qrCodeId, orderId));
    if (!status) unknown("GetQrCodeStatus: " + last.text);
  }
  if (status[4] == 3) quit("not paid: the QR code is withdrawn, rejected or cancelled");
  if (status[4] != 2) unknown("status " + status[4]);
  say("  the bank says it is paid after all");
  paymentId = status[1];
} else {
  paymentId = paid[1];
  say("Pay: paid " + money(paid[0]) + ", payment " + paymentId);
  say(paid[3]);
}

var state = call("GetQrCodeStatus", list(qrCodeId, orderId));
if (!state) quit("GetQrCodeStatus: " + last.text);
say("GetQrCodeStatus: status " + state[4] + ", left " + money(state[0]));

// Refund: every call is a new refund. When its outcome is unknown, compare what is left before
// trying again: if it went down by the refund, the first one went through.
var back = Number(arg("refund", "2.34")), leftBefore = state[0];
var refund = call("Refund", list(back, orderId, paymentId, qrCodeId));
if (!refund) {
  say("Refund: " + last.code + " " + last.text);
  var leftAfter = remaining(qrCodeId);
  if (leftAfter == -1)
    quit("the refund's outcome is unknown: do not repeat it; ask GetQrCodeStatus later and compare what is left with " +
         money(leftBefore));
  if (money(leftAfter) == money(leftBefore))
    quit("the refund was not made (" + money(leftAfter) + " left): it may be tried again");
  if (money(leftAfter) != money(leftBefore - back))
    quit("what is left changed otherwise (" + money(leftAfter) + "): check the payment's refunds with the bank");
  say("  it went through all the same: not repeated");
} else {
  say("Refund: " + money(back) + " returned, refund " + refund[0]);
  say(refund[1]);
}
say("GetQrCodeStatus: left " + money(remaining(qrCodeId)));

// ---- Failures a till must tell apart

// The bank refuses: nothing was done, and what is left stays as it was.
leftBefore = remaining(qrCodeId);
if (call("Refund", list(leftBefore + 1, orderId, paymentId, qrCodeId))) quit("a refund of more than is left was made");
say("Refund of more than is left: " + last.code + " " + last.text);
if (remaining(qrCodeId) == leftBefore) say("  left " + money(leftBefore) + ", unchanged");

// A paid QR code cannot be withdrawn: the bank refuses, and the status says why.
if (call("UnregisterQrCode", list(qrCodeId))) quit("a paid QR code was withdrawn");
say("UnregisterQrCode of a paid QR code: " + last.code + " " + last.text);

// TimeOut must be an integer: anything else is refused by COM before the method runs.
try {
  calls.CallMethod(driver, "GetQrCodeStatus", list(qrCodeId, orderId), 1.5);
} catch (e) {
  say("TimeOut 1.5: refused by COM, error " + (e.number & 0xFFFF).toString(16).toUpperCase() + ", not run");
}

call("Disable", null);
// Before Enable, and after Disable, the payment methods answer 70 at once, without the bank.
if (!call("GetQrCodeStatus", list(qrCodeId, orderId))) say("After Disable: " + last.code + " " + last.text);
driver.Close();
say("Session done");
