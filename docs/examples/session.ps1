# NOT RUN BY THE TESTS: this PowerShell version is text only (the tests run session.vbs and session.js).
#
# A till's session with the payment driver (ProgID Qelm.tolvaro) in Windows PowerShell: the same
# session as session.vbs, step by step, with its messages. The PowerShell must have the driver's
# bitness (for the 32-bit DLL on 64-bit Windows: C:\Windows\SysWOW64\WindowsPowerShell\v1.0\powershell.exe):
#   powershell -File session.ps1 -HostUrl URL -Key TERMINAL -Password SECRET [-Amount 12.34] [-Back 2.34] [-Devices FOLDER]
# OutData and the descriptions of Init and Open come back through [ref] (a variant by reference);
# amounts go as [decimal] (the driver takes them as Currency), TimeOut as an [int].
param(
    [Parameter(Mandatory)][string]$HostUrl,
    [Parameter(Mandatory)][string]$Key,
    [Parameter(Mandatory)][string]$Password,
    [decimal]$Amount = 12.34,
    [decimal]$Back = 2.34,
    [string]$Devices = ""
)
$ErrorActionPreference = 'Stop'

# The equipment manager: the driver calls it through IDispatch by name, so it is a small .NET
# class visible to COM. This driver calls only GetAppProperty (ModelsFolder and Language at
# Init, DevicesFolder at Open); the others are the host's too, with their argument forms.
Add-Type -TypeDefinition @"
using System.Runtime.InteropServices;
[ComVisible(true)]
[ClassInterface(ClassInterfaceType.AutoDispatch)]
public class TolvaroEquipmentManager
{
    public string DevicesFolder = "";
    public bool GetAppProperty(ref string deviceId, ref string propName, ref string value)
    {
        if (propName == "DevicesFolder" && DevicesFolder != "") { value = DevicesFolder; return true; }
        if (propName == "Language") { value = "ru"; return true; }
        return false;
    }
    public bool DataEvent(string deviceId, string eventName, string data, ref object extData) { return true; }
    public bool ErrorEvent(string deviceId, string errorName, string description, ref object extData) { return true; }
    public int MessageDlg(string deviceId, string text, ref int msgType, ref int buttons, ref int timeout) { return 0; }
    public string InputDataDlg(string deviceId, string caption, string defaultData, string description, string mask,
                               bool password, ref int timeOut) { return ""; }
    public bool TaskState(string deviceId, ref int percent, string description) { return true; }
    public bool WriteLog(string deviceId, string name, string text, ref int eventType) { return true; }
}
"@

function Say([string]$Text) { Write-Output $Text }
function Quit([string]$Text) { Say "FAILED: $Text"; exit 1 }
# The bank has not said whether the customer paid: the sale stays open, never "not paid".
function Unknown([string]$Text) {
    Quit "${Text}: whether it is paid is unknown; keep the sale open and ask GetQrCodeStatus again later"
}
# A failed method leaves [code, text] in OutData.
function Failure($OutData) { "$($OutData[0]) $($OutData[1])" }
# Amounts as "12.34" whatever the user's locale.
function Money($Value) { ([decimal]$Value).ToString('0.00', [System.Globalization.CultureInfo]::InvariantCulture) }

# What is left of a payment after refunds, or -1 when the bank cannot say.
function Remaining($Drv, [string]$QrCodeId) {
    $out = $null
    if ($Drv.GetQrCodeStatus(@($QrCodeId, $QrCodeId), [ref]$out, 0)) { [decimal]$out[0] } else { [decimal]-1 }
}

# The driver lives in the apartment of the thread that creates it (PowerShell's console thread is
# single-threaded); Pay blocks it for up to WaitTimeout seconds (help: "Время ожидания и потоки").
try { $drv = New-Object -ComObject Qelm.tolvaro } catch { Quit "Qelm.tolvaro is not registered for this bitness: $_" }

$manager = New-Object TolvaroEquipmentManager
$manager.DevicesFolder = $Devices
$description = $null
if (-not $drv.Init($manager, [ref]$description)) { Quit "Init: $description" }
Say "Init: $description"
if (-not $drv.Open('Till1', [ref]$description)) { Quit "Open: $description" }
Say "Open: $description"

# Settings: a column per setting, row 0 its ID, row 1 its value; the driver keeps the others as
# they are. They take effect at the next Enable.
$ids = 'Host', 'TerminalKey', 'Password', 'WaitTimeout', 'LineLength', 'DebugLogEnabled'
$values = $HostUrl, $Key, $Password, 60, 32, $true
$table = New-Object 'object[,]' 2, $ids.Count
for ($i = 0; $i -lt $ids.Count; $i++) { $table[0, $i] = $ids[$i]; $table[1, $i] = $values[$i] }
$out = $null
if (-not $drv.SetSettings(@(, $table), [ref]$out, 0)) { Quit "SetSettings: $(Failure $out)" }
if (-not $drv.Enable($null, [ref]$out, 0)) { Quit "Enable: $(Failure $out)" }
Say "Enable: the settings are in force (no request went to the bank)"

# Register: two bank requests. Keep the identifiers before anything else: after a crash the till
# asks GetQrCodeStatus for every payment it has not finished (help: "Восстановление").
if (-not $drv.RegisterQrCode(@($Amount, 'Order 1'), [ref]$out, 0)) { Quit "RegisterQrCode: $(Failure $out)" }
$qrCodeId = $out[0]; $orderId = $out[3]
Say "RegisterQrCode: $(Money $Amount), show the customer this QR code: $($out[1])"

# Pay: waits at most WaitTimeout seconds and cannot be interrupted. The identifier goes in
# element 1 (element 0 must be there too): the same one in both.
if (-not $drv.Pay(@($qrCodeId, $orderId), [ref]$out, 0)) {
    # 1001 from Pay never means "not paid": the bank decides, so ask it.
    Say "Pay: $(Failure $out)"
    if (-not $drv.GetQrCodeStatus(@($qrCodeId, $orderId), [ref]$out, 0)) { Unknown "GetQrCodeStatus: $($out[1])" }
    if ($out[4] -eq 1) {
        # Still waiting: withdraw the QR code, then ask again, for the customer may have paid in
        # the last second (the withdrawal is then refused).
        $withdrawn = $null
        if (-not $drv.UnregisterQrCode(@($qrCodeId), [ref]$withdrawn, 0)) { Say "UnregisterQrCode: $(Failure $withdrawn)" }
        if (-not $drv.GetQrCodeStatus(@($qrCodeId, $orderId), [ref]$out, 0)) { Unknown "GetQrCodeStatus: $($out[1])" }
    }
    switch ($out[4]) {
        2 { Say '  the bank says it is paid after all' }
        3 { Quit 'not paid: the QR code is withdrawn, rejected or cancelled' }
        default { Unknown "status $($out[4])" }
    }
    $paymentId = $out[1]
} else {
    $paymentId = $out[1]
    Say "Pay: paid $(Money $out[0]), payment $paymentId"
    Say $out[3]
}

if (-not $drv.GetQrCodeStatus(@($qrCodeId, $orderId), [ref]$out, 0)) { Quit "GetQrCodeStatus: $($out[1])" }
Say "GetQrCodeStatus: status $($out[4]), left $(Money $out[0])"

# Refund: every call is a new refund. When its outcome is unknown, compare what is left before
# trying again: if it went down by the refund, the first one went through.
$leftBefore = [decimal]$out[0]
if (-not $drv.Refund(@($Back, $orderId, $paymentId, $qrCodeId), [ref]$out, 0)) {
    Say "Refund: $(Failure $out)"
    $leftAfter = Remaining $drv $qrCodeId
    if ($leftAfter -eq -1) {
        Quit "the refund's outcome is unknown: do not repeat it; ask GetQrCodeStatus later and compare what is left with $(Money $leftBefore)"
    } elseif ($leftAfter -eq $leftBefore) {
        Quit "the refund was not made ($(Money $leftAfter) left): it may be tried again"
    } elseif ($leftAfter -ne $leftBefore - $Back) {
        Quit "what is left changed otherwise ($(Money $leftAfter)): check the payment's refunds with the bank"
    }
    Say '  it went through all the same: not repeated'
} else {
    Say "Refund: $(Money $Back) returned, refund $($out[0])"
    Say $out[1]
}
Say "GetQrCodeStatus: left $(Money (Remaining $drv $qrCodeId))"

# ---- Failures a till must tell apart

# The bank refuses: nothing was done, and what is left stays as it was.
$leftBefore = Remaining $drv $qrCodeId
if ($drv.Refund(@(($leftBefore + 1), $orderId, $paymentId, $qrCodeId), [ref]$out, 0)) { Quit 'a refund of more than is left was made' }
Say "Refund of more than is left: $(Failure $out)"
if ((Remaining $drv $qrCodeId) -eq $leftBefore) { Say "  left $(Money $leftBefore), unchanged" }

# A paid QR code cannot be withdrawn: the bank refuses, and the status says why.
if ($drv.UnregisterQrCode(@($qrCodeId), [ref]$out, 0)) { Quit 'a paid QR code was withdrawn' }
Say "UnregisterQrCode of a paid QR code: $(Failure $out)"

# TimeOut must be an integer: a double is refused by COM (E_INVALIDARG) before the method runs.
# PowerShell wraps the COM error in its own exception: the HRESULT is the inner one's.
try { [void]$drv.GetQrCodeStatus(@($qrCodeId, $orderId), [ref]$out, 1.5) }
catch {
    $e = $_.Exception
    if ($e.InnerException) { $e = $e.InnerException }
    Say "TimeOut 1.5: refused by COM, error $('{0:X8}' -f $e.HResult), not run"
}

[void]$drv.Disable($null, [ref]$out, 0)
# Before Enable, and after Disable, the payment methods answer 70 at once, without the bank.
if (-not $drv.GetQrCodeStatus(@($qrCodeId, $orderId), [ref]$out, 0)) { Say "After Disable: $(Failure $out)" }
[void]$drv.Close()
[void][System.Runtime.InteropServices.Marshal]::FinalReleaseComObject($drv)
Say 'Session done'
