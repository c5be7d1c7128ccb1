' A till's session with the payment driver (ProgID Qelm.tolvaro), in VBScript: the driver created
' by ProgID, an equipment manager, the settings, a QR code registered, the payment waited for,
' its status, part of it refunded; then the failures a till must tell apart, each handled as the
' help's page "Ошибки и повторы" says.
'
' Run it with the cscript of the host's bitness (C:\Windows\SysWOW64\cscript.exe for the 32-bit
' driver on 64-bit Windows):
'   cscript //nologo session.vbs /host:URL /key:TERMINAL /password:SECRET
'           [/amount:12.34] [/refund:2.34] [/devices:FOLDER] [/manager:PROGID]
' With the bank sandbox: /host:http://127.0.0.1:8080/v2, and pay on its page /customer.
' /devices: the host's devices folder (the debug log goes to FOLDER\Till1\ when that exists).
' /manager: a registered equipment manager to use instead of the class below (manager.wsc).
' Exit code: 0 when the session went as planned, 1 when a step failed (the output says which).
Option Explicit

' ---- The equipment manager: the host's object the driver calls back. This driver calls only
' GetAppProperty (ModelsFolder and Language at Init, DevicesFolder at Open); the other six are
' the host's too, with their argument forms, and are never called by this version.
Class EquipmentManager
  Public DevicesFolder

  ' DeviceID, PropName, Value: strings by reference; Value takes the answer. False: no such property.
  Public Function GetAppProperty(DeviceID, PropName, Value)
    GetAppProperty = False
    If PropName = "DevicesFolder" And DevicesFolder <> "" Then Value = DevicesFolder: GetAppProperty = True
    If PropName = "Language" Then Value = "ru": GetAppProperty = True
  End Function
  Public Function DataEvent(DeviceID, EventName, Data, ExtData): DataEvent = True: End Function
  Public Function ErrorEvent(DeviceID, ErrorName, Description, ExtData): ErrorEvent = True: End Function
  Public Function MessageDlg(DeviceID, Text, MsgType, Buttons, Timeout): MessageDlg = 0: End Function
  Public Function InputDataDlg(DeviceID, Caption, DefaultData, Description, Mask, Password, TimeOut)
    InputDataDlg = ""
  End Function
  Public Function TaskState(DeviceID, Percent, Description): TaskState = True: End Function
  Public Function WriteLog(DeviceID, Name, Text, EventType): WriteLog = True: End Function
End Class

' ---- Small helpers

' The value of /Name:value on the command line, or Default.
Function Arg(Name, Default)
  Dim I, A
  Arg = Default
  For I = 0 To WScript.Arguments.Count - 1
    A = WScript.Arguments(I)
    If LCase(Left(A, Len(Name) + 2)) = "/" & LCase(Name) & ":" Then Arg = Mid(A, Len(Name) + 3)
  Next
End Function

' "12.34" as Currency whatever the user's locale: the driver converts a string amount in the
' user's locale ("12,34" on a Russian Windows), so a till passes Currency, never text.
Function Amount(Text)
  Amount = CCur(Replace(Text, ".", Mid(CStr(0.5), 2, 1)))
End Function

' Currency as "12.34", whatever the user's locale.
Function Money(Value)
  Dim Kopecks
  Kopecks = Round(CCur(Value) * 100)
  Money = CStr(Kopecks \ 100) & "." & Right("0" & CStr(Kopecks Mod 100), 2)
End Function

' A failed method leaves [code, text] in OutData.
Dim LastCode, LastText
Function Failed(Ok, OutData)
  Failed = Not Ok
  LastCode = 0: LastText = ""
  If Not Ok Then LastCode = OutData(0): LastText = OutData(1)
End Function

Sub Say(Text)
  WScript.Echo Text
End Sub

Sub Quit(Text)
  Say "FAILED: " & Text
  WScript.Quit 1
End Sub

' The bank has not said whether the customer paid: the sale stays open, never "not paid".
Sub Unknown(Text)
  Quit Text & ": whether it is paid is unknown; keep the sale open and ask GetQrCodeStatus again later"
End Sub

' The remaining amount of a payment (what is left after refunds), or -1 when the bank cannot say.
Function Remaining(Drv, QrCodeID)
  Dim Out
  Remaining = -1
  If Not Failed(Drv.GetQrCodeStatus(Array(QrCodeID, QrCodeID), Out, 0), Out) Then Remaining = Out(0)
End Function

' ---- The session
Dim Drv, Manager, Description, Ok, Out, I

On Error Resume Next
Set Drv = CreateObject("Qelm.tolvaro")
If Err.Number <> 0 Then Quit "Qelm.tolvaro is not registered for this bitness: " & Err.Description
On Error GoTo 0

If Arg("manager", "") <> "" Then
  Set Manager = CreateObject(Arg("manager", ""))
Else
  Set Manager = New EquipmentManager
End If
Manager.DevicesFolder = Arg("devices", "")
If Not Drv.Init(Manager, Description) Then Quit "Init: " & Description
Say "Init: " & Description
If Not Drv.Open("Till1", Description) Then Quit "Open: " & Description
Say "Open: " & Description

' Settings: a table with a column per setting, row 0 its ID, row 1 its value; the driver keeps
' the others as they are. They take effect at the next Enable.
Dim IDs, Values, Table
IDs = Array("Host", "TerminalKey", "Password", "WaitTimeout", "LineLength", "DebugLogEnabled")
Values = Array(Arg("host", ""), Arg("key", ""), Arg("password", ""), 60, 32, True)
ReDim Table(1, UBound(IDs))
For I = 0 To UBound(IDs)
  Table(0, I) = IDs(I)
  Table(1, I) = Values(I)
Next
If Failed(Drv.SetSettings(Array(Table), Out, 0), Out) Then Quit "SetSettings: " & LastText
If Failed(Drv.Enable(Empty, Out, 0), Out) Then Quit "Enable: " & LastText
Say "Enable: the settings are in force (no request went to the bank)"

' Register: two bank requests. Keep the identifiers before anything else: after a crash the
' till asks GetQrCodeStatus for every payment it has not finished (help: "Восстановление").
Dim Sale, QrCodeID, QrCodeData, OrderID
Sale = Amount(Arg("amount", "12.34"))
If Failed(Drv.RegisterQrCode(Array(Sale, "Order 1"), Out, 0), Out) Then Quit "RegisterQrCode: " & LastCode & " " & LastText
QrCodeID = Out(0): QrCodeData = Out(1): OrderID = Out(3)
Say "RegisterQrCode: " & Money(Sale) & ", show the customer this QR code: " & QrCodeData

' Pay: waits at most WaitTimeout seconds and cannot be interrupted. The identifier goes in
' element 1 (element 0 must be there too): the same one in both.
Dim Paid, PaymentID
If Failed(Drv.Pay(Array(QrCodeID, OrderID), Out, 0), Out) Then
  ' 1001 from Pay never means "not paid": the bank decides, so ask it.
  Say "Pay: " & LastCode & " " & LastText
  If Failed(Drv.GetQrCodeStatus(Array(QrCodeID, OrderID), Out, 0), Out) Then Unknown "GetQrCodeStatus: " & LastText
  If Out(4) = 1 Then
    ' Still waiting: withdraw the QR code, then ask again, for the customer may have paid in the
    ' last second (the withdrawal is then refused).
    If Failed(Drv.UnregisterQrCode(Array(QrCodeID), Out, 0), Out) Then Say "UnregisterQrCode: " & LastCode & " " & LastText
    If Failed(Drv.GetQrCodeStatus(Array(QrCodeID, OrderID), Out, 0), Out) Then Unknown "GetQrCodeStatus: " & LastText
  End If
  Select Case Out(4)
    Case 2: Say "  the bank says it is paid after all"
    Case 3: Quit "not paid: the QR code is withdrawn, rejected or cancelled"
    Case Else: Unknown "status " & Out(4)
  End Select
  PaymentID = Out(1): Paid = Out(0)
Else
  Paid = Out(0): PaymentID = Out(1)
  Say "Pay: paid " & Money(Paid) & ", payment " & PaymentID
  Say Out(3)
End If

If Failed(Drv.GetQrCodeStatus(Array(QrCodeID, OrderID), Out, 0), Out) Then Quit "GetQrCodeStatus: " & LastText
Say "GetQrCodeStatus: status " & Out(4) & ", left " & Money(Out(0))

' Refund: every call is a new refund. When its outcome is unknown, compare what is left before
' trying again: if it went down by the refund, the first one went through.
Dim Back, LeftBefore, LeftAfter
Back = Amount(Arg("refund", "2.34"))
LeftBefore = Out(0)
If Failed(Drv.Refund(Array(Back, OrderID, PaymentID, QrCodeID), Out, 0), Out) Then
  Say "Refund: " & LastCode & " " & LastText
  LeftAfter = Remaining(Drv, QrCodeID)
  If LeftAfter = -1 Then
    Quit "the refund's outcome is unknown: do not repeat it; ask GetQrCodeStatus later and compare what is left with " & Money(LeftBefore)
  ElseIf LeftAfter = LeftBefore - Back Then
    Say "  it went through all the same: not repeated"
  ElseIf LeftAfter = LeftBefore Then
    Quit "the refund was not made (" & Money(LeftAfter) & " left): it may be tried again"
  Else
    Quit "what is left changed otherwise (" & Money(LeftAfter) & "): check the payment's refunds with the bank"
  End If
Else
  Say "Refund: " & Money(Back) & " returned, refund " & Out(0)
  Say Out(1)
End If
Say "GetQrCodeStatus: left " & Money(Remaining(Drv, QrCodeID))

' ---- Failures a till must tell apart

' The bank refuses: nothing was done, and what is left stays as it was.
LeftBefore = Remaining(Drv, QrCodeID)
If Failed(Drv.Refund(Array(LeftBefore + 1, OrderID, PaymentID, QrCodeID), Out, 0), Out) Then
  Say "Refund of more than is left: " & LastCode & " " & LastText
  If Remaining(Drv, QrCodeID) = LeftBefore Then Say "  left " & Money(LeftBefore) & ", unchanged"
Else
  Quit "a refund of more than is left was made"
End If

' A paid QR code cannot be withdrawn: the bank refuses, and the status says why.
If Failed(Drv.UnregisterQrCode(Array(QrCodeID), Out, 0), Out) Then
  Say "UnregisterQrCode of a paid QR code: " & LastCode & " " & LastText
Else
  Quit "a paid QR code was withdrawn"
End If

' TimeOut must be an integer: anything else is refused by COM before the method runs.
On Error Resume Next
Ok = Drv.GetQrCodeStatus(Array(QrCodeID, OrderID), Out, 1.5)
If Err.Number <> 0 Then Say "TimeOut 1.5: refused by COM, error " & Hex(Err.Number) & ", not run"
Err.Clear
On Error GoTo 0

Drv.Disable Empty, Out, 0
' Before Enable, and after Disable, the payment methods answer 70 at once, without the bank.
If Failed(Drv.GetQrCodeStatus(Array(QrCodeID, OrderID), Out, 0), Out) Then Say "After Disable: " & LastCode & " " & LastText
Drv.Close
Say "Session done"
