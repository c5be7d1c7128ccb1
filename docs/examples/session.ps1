# NOT RUN BY THE TESTS: this PowerShell version is text only (the tests run session.vbs and session.js).
#
# A till's session with the payment driver (ProgID Qelm.tolvaro) in Windows PowerShell: the same
# session as session.vbs. The PowerShell must have the driver's bitness (for the 32-bit DLL on
# 64-bit Windows: C:\Windows\SysWOW64\WindowsPowerShell\v1.0\powershell.exe):
#   powershell -File session.ps1 -HostUrl URL -Key TERMINAL -Password SECRET [-Devices FOLDER]
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

function Quit([string]$Text) { Write-Output "FAILED: $Text"; exit 1 }
# A failed method leaves [code, text] in OutData.
function Failure($OutData) { "$($OutData[0]) $($OutData[1])" }

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
if (-not $drv.Open('Till1', [ref]$description)) { Quit "Open: $description" }

# Settings: a column per setting, row 0 its ID, row 1 its value; in force from Enable on.
$ids = 'Host', 'TerminalKey', 'Password', 'WaitTimeout', 'LineLength', 'DebugLogEnabled'
$values = $HostUrl, $Key, $Password, 60, 32, $true
$table = New-Object 'object[,]' 2, $ids.Count
for ($i = 0; $i -lt $ids.Count; $i++) { $table[0, $i] = $ids[$i]; $table[1, $i] = $values[$i] }
$out = $null
if (-not $drv.SetSettings(@(, $table), [ref]$out, 0)) { Quit "SetSettings: $(Failure $out)" }
if (-not $drv.Enable($null, [ref]$out, 0)) { Quit "Enable: $(Failure $out)" }

# Register: keep the identifiers at once (help: "Восстановление после сбоя").
if (-not $drv.RegisterQrCode(@($Amount, 'Order 1'), [ref]$out, 0)) { Quit "RegisterQrCode: $(Failure $out)" }
$qrCodeId = $out[0]; $orderId = $out[3]
Write-Output "Show the customer this QR code: $($out[1])"

# Pay: the identifier in element 1 (element 0 must be there too). A failure is no "not paid":
# ask the bank.
if (-not $drv.Pay(@($qrCodeId, $orderId), [ref]$out, 0)) {
    Write-Output "Pay: $(Failure $out)"
    if (-not $drv.GetQrCodeStatus(@($qrCodeId, $orderId), [ref]$out, 0)) { Quit "GetQrCodeStatus: $(Failure $out)" }
    if ($out[4] -eq 1) { $ignored = $null; [void]$drv.UnregisterQrCode(@($qrCodeId), [ref]$ignored, 0) }
    if ($out[4] -ne 2) { Quit "not paid (status $($out[4]))" }
}
$paymentId = $out[1]
Write-Output "Paid, payment $paymentId"

# Refund: every call is a new refund. When its outcome is unknown, compare what is left.
$leftBefore = Remaining $drv $qrCodeId
if (-not $drv.Refund(@($Back, $orderId, $paymentId, $qrCodeId), [ref]$out, 0)) {
    Write-Output "Refund: $(Failure $out)"
    if ((Remaining $drv $qrCodeId) -ne $leftBefore - $Back) { Quit "the refund was not made" }
    Write-Output "  it went through all the same: not repeated"
} else {
    Write-Output "Refund $($out[0])"
    Write-Output $out[1]
}

# TimeOut must be an integer: a double is refused by COM (E_INVALIDARG) before the method runs.
try { [void]$drv.GetQrCodeStatus(@($qrCodeId, $orderId), [ref]$out, 1.5) } catch { Write-Output "TimeOut 1.5: not run: $_" }

[void]$drv.Disable($null, [ref]$out, 0)
[void]$drv.Close()
[void][System.Runtime.InteropServices.Marshal]::FinalReleaseComObject($drv)
Write-Output "Session done"
