{ NOT RUN BY THE TESTS: this Delphi version is text only (the tests run session.vbs and session.js).

  A till's session with the payment driver (ProgID Qelm.tolvaro) in Delphi, late-bound through
  OleVariant: the same session as session.vbs, step by step, with its messages. Build it for the
  driver's bitness (Win32 for the 32-bit tolvaro.dll, Win64 for the 64-bit one):
    Session.exe /host:URL /key:TERMINAL /password:SECRET [/amount:12.34] [/refund:2.34] [/devices:FOLDER]
  Delphi passes OleVariant variables to a late-bound call by reference: OutData and the
  descriptions of Init and Open come back in them. Amounts go as Currency. }
program Session;

{$APPTYPE CONSOLE}

uses
  SysUtils, Variants, ActiveX, ComObj;

type
  { The equipment manager: the driver calls it through IDispatch by name. This driver calls only
    GetAppProperty (ModelsFolder and Language at Init, DevicesFolder at Open), with its strings by
    reference; the manager takes them by value too. The other six names are answered with
    harmless values. }
  TEquipmentManager = class(TInterfacedObject, IDispatch)
  private
    FDevicesFolder: WideString;
  public
    constructor Create(const DevicesFolder: WideString);
    function GetTypeInfoCount(out Count: Integer): HResult; stdcall;
    function GetTypeInfo(Index, LocaleID: Integer; out TypeInfo): HResult; stdcall;
    function GetIDsOfNames(const IID: TGUID; Names: Pointer; NameCount, LocaleID: Integer;
      DispIDs: Pointer): HResult; stdcall;
    function Invoke(DispID: Integer; const IID: TGUID; LocaleID: Integer; Flags: Word; var Params;
      VarResult, ExcepInfo, ArgErr: Pointer): HResult; stdcall;
  end;

const
  ManagerMethods: array[1..7] of string = ('GetAppProperty', 'DataEvent', 'ErrorEvent', 'MessageDlg',
    'InputDataDlg', 'TaskState', 'WriteLog');

constructor TEquipmentManager.Create(const DevicesFolder: WideString);
begin
  inherited Create;
  FDevicesFolder := DevicesFolder;
end;

function TEquipmentManager.GetTypeInfoCount(out Count: Integer): HResult;
begin
  Count := 0;
  Result := S_OK;
end;

function TEquipmentManager.GetTypeInfo(Index, LocaleID: Integer; out TypeInfo): HResult;
begin
  Pointer(TypeInfo) := nil;
  Result := E_NOTIMPL;
end;

function TEquipmentManager.GetIDsOfNames(const IID: TGUID; Names: Pointer; NameCount, LocaleID: Integer;
  DispIDs: Pointer): HResult;
var
  I: Integer;
begin
  for I := Low(ManagerMethods) to High(ManagerMethods) do
    if SameText(PWideChar(PPointer(Names)^), ManagerMethods[I]) then
    begin
      PInteger(DispIDs)^ := I;
      Exit(S_OK);
    end;
  PInteger(DispIDs)^ := DISPID_UNKNOWN;
  Result := DISP_E_UNKNOWNNAME;
end;

{ A string argument, whether it came by value (VT_BSTR) or by reference (a string or a variant by
  reference): the driver passes them by reference, but a manager must take either. }
function ArgText(const Arg: TVariantArg): WideString;
begin
  case Arg.vt of
    VT_BSTR: Result := WideString(Arg.bstrVal);
    VT_BSTR or VT_BYREF: Result := Arg.pbstrVal^;
    VT_VARIANT or VT_BYREF: Result := POleVariant(Arg.pvarVal)^;
  else
    Result := '';
  end;
end;

{ Writes Text into an argument passed by reference (the old string is freed by the assignment);
  False for one passed by value, which cannot take an answer back. }
function SetArgText(const Arg: TVariantArg; const Text: WideString): Boolean;
begin
  Result := True;
  case Arg.vt of
    VT_BSTR or VT_BYREF: Arg.pbstrVal^ := Text;
    VT_VARIANT or VT_BYREF: POleVariant(Arg.pvarVal)^ := Text;
  else
    Result := False;
  end;
end;

function TEquipmentManager.Invoke(DispID: Integer; const IID: TGUID; LocaleID: Integer; Flags: Word;
  var Params; VarResult, ExcepInfo, ArgErr: Pointer): HResult;
var
  Args: TDispParams absolute Params;
  Answer: OleVariant;
  PropName: WideString;
begin
  { The arguments arrive right to left: rgvarg[cArgs - 1] is the device ID. }
  case DispID of
    1: { GetAppProperty(DeviceID, PropName, Value): Value takes the answer. }
      begin
        if Args.cArgs <> 3 then Exit(DISP_E_BADPARAMCOUNT);
        PropName := ArgText(Args.rgvarg^[1]);
        Answer := False;
        if SameText(PropName, 'DevicesFolder') and (FDevicesFolder <> '') then
          Answer := SetArgText(Args.rgvarg^[0], FDevicesFolder)
        else if SameText(PropName, 'Language') then
          Answer := SetArgText(Args.rgvarg^[0], 'ru');
      end;
    4: Answer := 0;     { MessageDlg: the button pressed }
    5: Answer := '';    { InputDataDlg: the text entered }
    2, 3, 6, 7: Answer := True;
  else
    Exit(DISP_E_MEMBERNOTFOUND);
  end;
  if VarResult <> nil then POleVariant(VarResult)^ := Answer;
  Result := S_OK;
end;

{ ---- Helpers }

function Arg(const Name, Default: string): string;
var
  I: Integer;
begin
  Result := Default;
  for I := 1 to ParamCount do
    if SameText(Copy(ParamStr(I), 1, Length(Name) + 2), '/' + Name + ':') then
      Result := Copy(ParamStr(I), Length(Name) + 3, MaxInt);
end;

{ "12.34" whatever the user's locale, and back. }
function Amount(const Text: string): Currency;
var
  Invariant: TFormatSettings;
begin
  Invariant := TFormatSettings.Invariant;
  Result := StrToCurr(Text, Invariant);
end;

function Money(const Value: Currency): string;
var
  Invariant: TFormatSettings;
begin
  Invariant := TFormatSettings.Invariant;
  Result := FormatCurr('0.00', Value, Invariant);
end;

procedure Say(const Text: string);
begin
  Writeln(Text);
end;

procedure Quit(const Text: string);
begin
  Say('FAILED: ' + Text);
  Halt(1);
end;

{ The bank has not said whether the customer paid: the sale stays open, never "not paid". }
procedure OutcomeUnknown(const Text: string);
begin
  Quit(Text + ': whether it is paid is unknown; keep the sale open and ask GetQrCodeStatus again later');
end;

{ A failed method leaves [code, text] in OutData. }
function Failure(const OutData: OleVariant): string;
begin
  Result := IntToStr(Integer(OutData[0])) + ' ' + string(OutData[1]);
end;

{ What is left of a payment after refunds, or -1 when the bank cannot say. }
function Remaining(const Drv: OleVariant; const QrCodeID: string): Currency;
var
  OutData: OleVariant;
begin
  Result := -1;
  if Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, QrCodeID]), OutData, 0) then Result := OutData[0];
end;

{ ---- The session }
const
  IDs: array[0..5] of string = ('Host', 'TerminalKey', 'Password', 'WaitTimeout', 'LineLength', 'DebugLogEnabled');
var
  Drv, Description, OutData, Withdrawn, Table, Manager: OleVariant;
  QrCodeID, OrderID, PaymentID: string;
  Sale, Back, LeftBefore, LeftAfter: Currency;
  I: Integer;
begin
  { The driver lives in this thread's single-threaded apartment; Pay blocks it for up to
    WaitTimeout seconds (help: "Время ожидания и потоки"). }
  CoInitialize(nil);
  try
    Drv := CreateOleObject('Qelm.tolvaro');
  except
    on E: Exception do Quit('Qelm.tolvaro is not registered for this bitness: ' + E.Message);
  end;

  Manager := IDispatch(TEquipmentManager.Create(Arg('devices', '')));
  if not Drv.Init(Manager, Description) then Quit('Init: ' + Description);
  Say('Init: ' + Description);
  if not Drv.Open('Till1', Description) then Quit('Open: ' + Description);
  Say('Open: ' + Description);

  { Settings: a column per setting, row 0 its ID, row 1 its value; the driver keeps the others
    as they are. They take effect at the next Enable. }
  Table := VarArrayCreate([0, 1, 0, High(IDs)], varVariant);
  for I := 0 to High(IDs) do Table[0, I] := IDs[I];
  Table[1, 0] := Arg('host', '');
  Table[1, 1] := Arg('key', '');
  Table[1, 2] := Arg('password', '');
  Table[1, 3] := 60;
  Table[1, 4] := 32;
  Table[1, 5] := True;
  if not Drv.SetSettings(VarArrayOf([Table]), OutData, 0) then Quit('SetSettings: ' + Failure(OutData));
  if not Drv.Enable(Unassigned, OutData, 0) then Quit('Enable: ' + Failure(OutData));
  Say('Enable: the settings are in force (no request went to the bank)');

  { Register: two bank requests. Keep the identifiers before anything else: after a crash the
    till asks GetQrCodeStatus for every payment it has not finished (help: "Восстановление"). }
  Sale := Amount(Arg('amount', '12.34'));
  if not Drv.RegisterQrCode(VarArrayOf([Sale, 'Order 1']), OutData, 0) then
    Quit('RegisterQrCode: ' + Failure(OutData));
  QrCodeID := OutData[0];
  OrderID := OutData[3];
  Say('RegisterQrCode: ' + Money(Sale) + ', show the customer this QR code: ' + string(OutData[1]));

  { Pay: waits at most WaitTimeout seconds and cannot be interrupted. The identifier goes in
    element 1 (element 0 must be there too): the same one in both. }
  if not Drv.Pay(VarArrayOf([QrCodeID, OrderID]), OutData, 0) then
  begin
    { 1001 from Pay never means "not paid": the bank decides, so ask it. }
    Say('Pay: ' + Failure(OutData));
    if not Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, OrderID]), OutData, 0) then
      OutcomeUnknown('GetQrCodeStatus: ' + string(OutData[1]));
    if OutData[4] = 1 then
    begin
      { Still waiting: withdraw the QR code, then ask again, for the customer may have paid in the
        last second (the withdrawal is then refused). }
      if not Drv.UnregisterQrCode(VarArrayOf([QrCodeID]), Withdrawn, 0) then
        Say('UnregisterQrCode: ' + Failure(Withdrawn));
      if not Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, OrderID]), OutData, 0) then
        OutcomeUnknown('GetQrCodeStatus: ' + string(OutData[1]));
    end;
    case Integer(OutData[4]) of
      2: Say('  the bank says it is paid after all');
      3: Quit('not paid: the QR code is withdrawn, rejected or cancelled');
    else
      OutcomeUnknown('status ' + IntToStr(Integer(OutData[4])));
    end;
    PaymentID := OutData[1];
  end
  else
  begin
    PaymentID := OutData[1];
    Say('Pay: paid ' + Money(OutData[0]) + ', payment ' + PaymentID);
    Say(string(OutData[3]));
  end;

  if not Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, OrderID]), OutData, 0) then
    Quit('GetQrCodeStatus: ' + string(OutData[1]));
  Say('GetQrCodeStatus: status ' + IntToStr(Integer(OutData[4])) + ', left ' + Money(OutData[0]));

  { Refund: every call is a new refund. When its outcome is unknown, compare what is left before
    trying again: if it went down by the refund, the first one went through. }
  Back := Amount(Arg('refund', '2.34'));
  LeftBefore := OutData[0];
  if not Drv.Refund(VarArrayOf([Back, OrderID, PaymentID, QrCodeID]), OutData, 0) then
  begin
    Say('Refund: ' + Failure(OutData));
    LeftAfter := Remaining(Drv, QrCodeID);
    if LeftAfter = -1 then
      Quit('the refund''s outcome is unknown: do not repeat it; ask GetQrCodeStatus later and compare ' +
        'what is left with ' + Money(LeftBefore))
    else if LeftAfter = LeftBefore then
      Quit('the refund was not made (' + Money(LeftAfter) + ' left): it may be tried again')
    else if LeftAfter <> LeftBefore - Back then
      Quit('what is left changed otherwise (' + Money(LeftAfter) + '): check the payment''s refunds with the bank');
    Say('  it went through all the same: not repeated');
  end
  else
  begin
    Say('Refund: ' + Money(Back) + ' returned, refund ' + string(OutData[0]));
    Say(string(OutData[1]));
  end;
  Say('GetQrCodeStatus: left ' + Money(Remaining(Drv, QrCodeID)));

  { ---- Failures a till must tell apart }

  { The bank refuses: nothing was done, and what is left stays as it was. }
  LeftBefore := Remaining(Drv, QrCodeID);
  if Drv.Refund(VarArrayOf([LeftBefore + 1, OrderID, PaymentID, QrCodeID]), OutData, 0) then
    Quit('a refund of more than is left was made');
  Say('Refund of more than is left: ' + Failure(OutData));
  if Remaining(Drv, QrCodeID) = LeftBefore then Say('  left ' + Money(LeftBefore) + ', unchanged');

  { A paid QR code cannot be withdrawn: the bank refuses, and the status says why. }
  if Drv.UnregisterQrCode(VarArrayOf([QrCodeID]), OutData, 0) then Quit('a paid QR code was withdrawn');
  Say('UnregisterQrCode of a paid QR code: ' + Failure(OutData));

  { TimeOut must be an integer: a Double is refused by COM (E_INVALIDARG, EOleSysError here)
    before the method runs. A refused reference, or the equipment manager's own error, is an
    EOleException (DISP_E_EXCEPTION) with the driver's text. }
  try
    Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, OrderID]), OutData, 1.5);
  except
    on E: EOleSysError do Say('TimeOut 1.5: refused by COM, error ' + IntToHex(E.ErrorCode, 8) + ', not run');
  end;

  Drv.Disable(Unassigned, OutData, 0);
  { Before Enable, and after Disable, the payment methods answer 70 at once, without the bank. }
  if not Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, OrderID]), OutData, 0) then
    Say('After Disable: ' + Failure(OutData));
  Drv.Close;
  Drv := Unassigned;
  Say('Session done');
end.
