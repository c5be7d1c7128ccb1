{ NOT RUN BY THE TESTS: this Delphi version is text only (the tests run session.vbs and session.js).

  A till's session with the payment driver (ProgID Qelm.tolvaro) in Delphi, late-bound through
  OleVariant: the same session as session.vbs. Build it for the driver's bitness (Win32 for the
  32-bit tolvaro.dll, Win64 for the 64-bit one):
    Session.exe /host:URL /key:TERMINAL /password:SECRET [/devices:FOLDER]
  Delphi passes OleVariant variables to a late-bound call by reference: OutData and the
  descriptions of Init and Open come back in them. Amounts go as Currency. }
program Session;

{$APPTYPE CONSOLE}

uses
  SysUtils, Variants, ActiveX, ComObj;

type
  { The equipment manager: the driver calls it through IDispatch by name. This driver calls only
    GetAppProperty (ModelsFolder and Language at Init, DevicesFolder at Open); the other six
    names are answered with harmless values. }
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

function TEquipmentManager.Invoke(DispID: Integer; const IID: TGUID; LocaleID: Integer; Flags: Word;
  var Params; VarResult, ExcepInfo, ArgErr: Pointer): HResult;
var
  Args: TDispParams absolute Params;
  Answer: OleVariant;
  PropName: WideString;
begin
  { The arguments arrive right to left: rgvarg[cArgs - 1] is the device ID. }
  case DispID of
    1: { GetAppProperty(DeviceID, PropName, Value): three strings by reference (varOleStr or varByRef). }
      begin
        PropName := Args.rgvarg^[1].pbstrVal^;
        Answer := False;
        if SameText(PropName, 'DevicesFolder') and (FDevicesFolder <> '') then
        begin
          Args.rgvarg^[0].pbstrVal^ := FDevicesFolder;
          Answer := True;
        end
        else if SameText(PropName, 'Language') then
        begin
          Args.rgvarg^[0].pbstrVal^ := 'ru';
          Answer := True;
        end;
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

procedure Quit(const Text: string);
begin
  Writeln('FAILED: ', Text);
  Halt(1);
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
  Drv, Description, OutData, Table, Manager: OleVariant;
  QrCodeID, OrderID, PaymentID: string;
  Sale, Back, LeftBefore: Currency;
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
  if not Drv.Open('Till1', Description) then Quit('Open: ' + Description);

  { Settings: a column per setting, row 0 its ID, row 1 its value; in force from Enable on. }
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

  { Register: keep the identifiers at once (help: "Восстановление после сбоя"). }
  Sale := 12.34;
  if not Drv.RegisterQrCode(VarArrayOf([Sale, 'Order 1']), OutData, 0) then
    Quit('RegisterQrCode: ' + Failure(OutData));
  QrCodeID := OutData[0];
  OrderID := OutData[3];
  Writeln('Show the customer this QR code: ', string(OutData[1]));

  { Pay: the identifier in element 1 (element 0 must be there too). A failure is no "not paid":
    ask the bank. }
  if not Drv.Pay(VarArrayOf([QrCodeID, OrderID]), OutData, 0) then
  begin
    Writeln('Pay: ', Failure(OutData));
    if not Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, OrderID]), OutData, 0) then
      Quit('GetQrCodeStatus: ' + Failure(OutData));
    if OutData[4] = 1 then Drv.UnregisterQrCode(VarArrayOf([QrCodeID]), Description, 0);
    if OutData[4] <> 2 then Quit('not paid');
  end;
  PaymentID := OutData[1];
  Writeln('Paid, payment ', PaymentID);

  { Refund: every call is a new refund. When its outcome is unknown, compare what is left. }
  Back := 2.34;
  LeftBefore := Remaining(Drv, QrCodeID);
  if not Drv.Refund(VarArrayOf([Back, OrderID, PaymentID, QrCodeID]), OutData, 0) then
  begin
    Writeln('Refund: ', Failure(OutData));
    if Remaining(Drv, QrCodeID) <> LeftBefore - Back then Quit('the refund was not made');
    Writeln('  it went through all the same: not repeated');
  end
  else
    Writeln('Refund ', string(OutData[0]), sLineBreak, string(OutData[1]));

  { TimeOut must be an integer: a Double is refused by COM (E_INVALIDARG, EOleSysError here)
    before the method runs. A refused reference, or the equipment manager's own error, is an
    EOleException (DISP_E_EXCEPTION) with the driver's text. }
  try
    Drv.GetQrCodeStatus(VarArrayOf([QrCodeID, OrderID]), OutData, 1.5);
  except
    on E: EOleSysError do Writeln('TimeOut 1.5: not run: ', E.Message);
  end;

  Drv.Disable(Unassigned, OutData, 0);
  Drv.Close;
  Drv := Unassigned;
  Writeln('Session done');
end.
