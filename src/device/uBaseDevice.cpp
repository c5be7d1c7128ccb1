#include "uBaseDevice.h"

#include "host/uDebugLog.h"
#include "host/uEquipment.h"
#include "host/uResultCodes.h"
#include "platform/uFiles.h"
#include "platform/uSafeArray.h"
#include "platform/uStrings.h"
#include "uDeviceStrings.h"
#include "uLateBinding.h"

namespace {
TSettingsDialogExecutor& SettingsDialog() {
  static TSettingsDialogExecutor executor;
  return executor;
}

// Rows of the settings table (its first dimension).
enum : LONG { rowID, rowValue, rowValueType, rowDefault, rowReadOnly, rowName, rowDescription, kSettingRows };

// Element Index of a one-dimensional array; raises when there is no such element.
TVariant ArrayElement(const VARIANT& Arr, LONG Index) {
  SAFEARRAY* sa = VariantSafeArray(Arr);
  if (!sa || SafeArrayGetDim(sa) != 1) throw Exception(L"Wrong index!");
  return SafeArrayItem(sa, &Index);
}

// An owned, two-dimensional VT_VARIANT array [0..Rows-1, 0..Columns-1].
TVariant MakeTable(LONG Rows, LONG Columns) {
  return NewVariantArray({{static_cast<ULONG>(Rows), 0}, {static_cast<ULONG>(Columns), 0}});
}

void PutCell(TVariant& Table, LONG Row, LONG Column, const TVariant& Value) {
  const LONG indices[2] = {Row, Column};
  PutVariantArrayItem(Table, indices, Value.Get());
}

bool IsTwoDimensional(const VARIANT& Value) {
  SAFEARRAY* sa = VariantSafeArray(Value);
  return sa && SafeArrayGetDim(sa) == 2;
}
}  // namespace

void RegisterSettingsDialog(TSettingsDialogExecutor Executor) { SettingsDialog() = std::move(Executor); }

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TBaseDevice::TBaseDevice() = default;

TBaseDevice::~TBaseDevice() = default;

void TBaseDevice::Initialize() {
  TBaseObject::Initialize();
  FEqManager.Clear();
  FDeviceID.clear();
  FWindows.clear();
  FDebugLogDir.clear();
  FModelsFolder.clear();
  OnCreate();
  InitDeviceInfo();
  RegisterMethods();
  DeclareSettings();
  FDeviceState = dsCreated;
}

void TBaseDevice::BeforeDestruction() noexcept {
  // The device is switched off whatever its state, so that a driver's OnDisable always runs
  // before its OnDestroy frees what OnDisable may still use.
  try {
    Disable();
  } catch (...) {
  }
  try {
    OnDestroy();
  } catch (...) {
  }
  FEqManager.Clear();
}

// ---------------------------------------------------------------------------------------------
// Properties

void TBaseDevice::SetEnabled(bool Value) {
  if (Value == GetEnabled()) return;
  if (Value)
    Enable();
  else
    Disable();
}

int32_t TBaseDevice::GetDefaultTimeOut() const { return GetSettingValueInt(kSettingDefaultTimeOut); }

void TBaseDevice::SetDefaultTimeOut(int32_t Value) { SetSettingValue(kSettingDefaultTimeOut, TVariant::FromInt(Value)); }

bool TBaseDevice::GetEventLogEnabled() const { return GetSettingValueBool(kSettingEventLogEnabled); }

void TBaseDevice::SetEventLogEnabled(bool Value) { SetSettingValue(kSettingEventLogEnabled, TVariant::FromBool(Value)); }

std::wstring TBaseDevice::ModelFolder() const { return IncludeTrailingPathDelimiter(FModelsFolder + FDeviceInfo.ModelID); }

TSettingStruct* TBaseDevice::Settings(int Index) noexcept {
  if (Index < 0 || Index >= SettingsCount()) return nullptr;
  return &FSettingList[static_cast<size_t>(Index)];
}

TAdditionalAction* TBaseDevice::AddActions(int Index) noexcept {
  if (Index < 0 || Index >= AddActionsCount()) return nullptr;
  return &FAdditionalActions[static_cast<size_t>(Index)];
}

// ---------------------------------------------------------------------------------------------
// Registration and declarations

void TBaseDevice::RegisterMethods() {
  RegisterPrivateMethod(L"Init", [this](TVariantArray& Params) { return InitMethod(Params); });
  RegisterPrivateMethod(L"Open", [this](TVariantArray& Params) { return OpenMethod(Params); });
  RegisterPrivateMethod(L"Close", [this](TVariantArray& Params) { return CloseMethod(Params); });
  RegisterPublicMethod(L"ShowSettingsDlg", [this](TVariant&, TVariant&, int32_t, std::wstring& ResultDescription) {
    return ShowSettingsDlgMethod(ResultDescription);
  });
  RegisterPublicMethod(L"GetDeviceInfo",
                       [this](TVariant&, TVariant& OutData, int32_t, std::wstring&) { return GetDeviceInfoMethod(OutData); });
  RegisterPublicMethod(L"Enable", [this](TVariant& InData, TVariant& OutData, int32_t TimeOut, std::wstring& Description) {
    return EnableMethod(InData, OutData, TimeOut, Description);
  });
  RegisterPublicMethod(L"Disable", [this](TVariant& InData, TVariant& OutData, int32_t TimeOut, std::wstring& Description) {
    return DisableMethod(InData, OutData, TimeOut, Description);
  });
  RegisterPublicMethod(L"GetSettings",
                       [this](TVariant&, TVariant& OutData, int32_t, std::wstring&) { return GetSettingsMethod(OutData); });
  RegisterPublicMethod(L"SetSettings",
                       [this](TVariant& InData, TVariant&, int32_t, std::wstring&) { return SetSettingsMethod(InData); });
  RegisterPublicMethod(L"CheckHealth", [this](TVariant&, TVariant&, int32_t, std::wstring& ResultDescription) {
    return DoCheckHealth(ResultDescription);
  });
}

void TBaseDevice::DeclareSettings() {
  AddSetting(kSettingDefaultTimeOut, dtNumber, TVariant::FromInt(120), false, kSDefaultTimeOutName,
             kSDefaultTimeOutDescription);
  AddSetting(kSettingEventLogEnabled, dtBoolean, TVariant::FromBool(false), false, kSEventLogEnabledName,
             kSEventLogEnabledDescription);
  AddSetting(kSettingDebugLogEnabled, dtBoolean, TVariant::FromBool(false), false, kSDebugLogEnabledName,
             kSDebugLogEnabledDescription);
}

void TBaseDevice::InitDeviceInfo() {
  const TModuleVersion version = GetModuleVersion();
  FDeviceInfo = TDeviceInfoStruct{};
  FDeviceInfo.TypeName = L"Unknown";
  FDeviceInfo.MajorVersion = version.Major;
  FDeviceInfo.MinorVersion = version.Minor;
  FDeviceInfo.BuildVersion = version.Build;
  FDeviceInfo.ProcessorType = 1;
  FDeviceInfo.IsSettingsDlgExist = false;
  FDeviceInfo.DeveloperName = kSDeveloperName;
  FDeviceInfo.CI_email = kSDeveloperEmail;
  FDeviceInfo.CI_www = kSDeveloperWeb;
  FDeviceInfo.CI_Phones = kSDeveloperPhones;
  FDeviceInfo.CI_address = kSDeveloperAddress;
  OnSetDeviceInfo();
}

// ---------------------------------------------------------------------------------------------
// Hooks with a base behaviour

int32_t TBaseDevice::OnEnable(std::wstring&) { return kOK; }
int32_t TBaseDevice::OnDisable(std::wstring&) { return kOK; }
int32_t TBaseDevice::OnInit(std::wstring&) { return kOK; }
int32_t TBaseDevice::OnOpen(std::wstring&) { return kOK; }

std::wstring TBaseDevice::GetDeviceVersion() { return VersionText(FDeviceInfo); }

bool TBaseDevice::DeviceTest(std::wstring& ResultDescription) {
  ResultDescription = DescribeResult(kNotSupported, L"");
  return false;
}

int32_t TBaseDevice::RunAdditionalAction(const std::wstring&, std::wstring& ResultDescription) {
  ResultDescription.clear();
  return kOK;
}

// ---------------------------------------------------------------------------------------------
// Lifecycle

int32_t TBaseDevice::EnableMethod(TVariant&, TVariant&, int32_t, std::wstring& ResultDescription) {
  return Enable(ResultDescription);
}

int32_t TBaseDevice::DisableMethod(TVariant&, TVariant&, int32_t, std::wstring& ResultDescription) {
  return DoDisable(ResultDescription);
}

int32_t TBaseDevice::Enable(std::wstring& ResultDescription) {
  FDebugLogDir = DeviceFolder;
  // Switching the log on writes its header; a changed setting takes effect here, not before.
  SetDebugLogEnabled(GetSettingValueBool(kSettingDebugLogEnabled));
  const int32_t code = OnEnable(ResultDescription);
  if (code == kOK) {
    FDeviceState = dsEnabled;
    FEnabledSettings.clear();
    for (const TSettingStruct& s : FSettingList) FEnabledSettings.push_back({s.ID, s.Value});
  } else if (ResultDescription.empty())
    ResultDescription = GetDriverResultDescription(code);
  return code;
}

int32_t TBaseDevice::Enable() {
  std::wstring discarded;
  return Enable(discarded);
}

int32_t TBaseDevice::DoDisable(std::wstring& ResultDescription) {
  const int32_t code = OnDisable(ResultDescription);
  if (code == kOK) FDeviceState = dsInited;
  return code;
}

int32_t TBaseDevice::Disable() {
  std::wstring discarded;
  return DoDisable(discarded);
}

int32_t TBaseDevice::DoCheckHealth(std::wstring& ResultDescription) {
  const bool wasEnabled = GetEnabled();
  int32_t code = kOK;
  if (!wasEnabled) {
    try {
      code = Enable(ResultDescription);
    } catch (...) {
      // Enabled for the check only: whatever an enable that failed half-way set up is
      // switched off again before the failure goes on to the host.
      try {
        Disable();
      } catch (...) {
      }
      throw;
    }
  }
  // The standard text of the result, not whatever the enable hook said.
  ResultDescription = GetDriverResultDescription(code);
  if (!wasEnabled) Disable();
  return code;
}

TVariant TBaseDevice::InitMethod(TVariantArray& Params) {
  FEqManager.Clear();
  int32_t code = kBadParameters;
  std::wstring description;
  if (Params.Count() > 0) {
    TVariant manager = Params.GetItem(0);
    // A null object cannot be called back: it is no equipment manager.
    if (manager.Type() == VT_DISPATCH && manager.Get().pdispVal) {
      FEqManager = std::move(manager);
      code = OnInit(description);
    }
  }
  const bool ok = code == kOK;
  Params.PutItem(1, TVariant::FromString(DescribeResult(code, description)).Get());
  if (ok) {
    FDeviceState = dsInited;
    FModelsFolder = IncludeTrailingPathDelimiter(GetAppProperty(L"ModelsFolder"));
    Language = GetAppProperty(L"Language");
  }
  return TVariant::FromBool(ok);
}

TVariant TBaseDevice::OpenMethod(TVariantArray& Params) {
  FDeviceID.clear();
  int32_t code = kBadParameters;
  std::wstring description;
  if (Params.Count() > 0) {
    const TVariant id = Params.GetItem(0);
    if (id.Type() == VT_BSTR) {
      const BSTR text = id.Get().bstrVal;
      FDeviceID = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
      DeviceFolder = GetDeviceFolder();
      code = OnOpen(description);
    }
  }
  const bool ok = code == kOK;
  Params.PutItem(1, TVariant::FromString(DescribeResult(code, description)).Get());
  return TVariant::FromBool(ok);
}

TVariant TBaseDevice::CloseMethod(TVariantArray&) {
  OnBeforeClose();
  FDeviceID.clear();
  FEqManager.Clear();
  OnAfterClose();
  return TVariant::FromBool(true);
}

int32_t TBaseDevice::ShowSettingsDlgMethod(std::wstring& ResultDescription) {
  ResultDescription.clear();
  if (!FDeviceInfo.IsSettingsDlgExist) return kNotSupported;
  return OnShowSettings() ? kOK : kCancelled;
}

bool TBaseDevice::ExecuteSettingsDialog(const std::vector<TSettingsPageClass>& PageClasses, bool NoDeviceTest) {
  const TSettingsDialogExecutor executor = SettingsDialog();
  if (!executor) throw Exception(DescribeResult(kNotSupported, L""));
  StoreFocus();
  struct TRestore {
    TBaseDevice* Device;
    ~TRestore() { Device->RestoreFocus(); }
  } restore{this};
  const bool ok = executor(*this, PageClasses, NoDeviceTest);
  OnSettingsApplied();
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Host application data

TVariant TBaseDevice::AttachedEqManager() const {
  if (FEqManager.Type() != VT_DISPATCH || !FEqManager.Get().pdispVal) throw Exception(kSNoEqManager);
  return FEqManager;
}

TVariant TBaseDevice::CallEqManager(const wchar_t* Method, std::vector<VARIANT> Args, bool IdByReference) {
  const TVariant held = AttachedEqManager();  // the manager stays alive for the whole call
  TVariant id = TVariant::FromString(FDeviceID);
  Args.insert(Args.begin(), IdByReference ? BstrRefArg(id) : BstrArg(id));
  return DispatchCall(held.Get().pdispVal, Method, std::move(Args));
}

std::wstring TBaseDevice::GetAppProperty(const std::wstring& PropName) {
  TVariant name = TVariant::FromString(PropName);
  TVariant value = TVariant::FromString(L"");
  const TVariant found = CallEqManager(L"GetAppProperty", {BstrRefArg(name), BstrRefArg(value)}, true);
  if (!VariantToBool(found.Get())) return {};
  const BSTR text = value.Get().bstrVal;
  return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

std::wstring TBaseDevice::GetDeviceFolder() {
  const std::wstring folder = GetAppProperty(L"DevicesFolder");
  if (folder.empty() || FDeviceID.empty()) return {};
  return IncludeTrailingPathDelimiter(folder) + FDeviceID + L"\\";
}

// ---------------------------------------------------------------------------------------------
// Device information and the settings exchange

int32_t TBaseDevice::GetDeviceInfoMethod(TVariant& OutData) {
  const TDeviceInfoStruct& i = FDeviceInfo;
  // Made once and taken over by the array, not copied into it.
  TVariant items[] = {
      TVariant::FromString(i.TypeName), TVariant::FromString(i.ModelID), TVariant::FromString(i.ModelName),
      TVariant::FromInt(i.MajorVersion), TVariant::FromInt(i.MinorVersion), TVariant::FromInt(i.BuildVersion),
      TVariant::FromString(i.ProcessorName), TVariant::FromInt(i.ProcessorType), TVariant::FromBool(i.IsSettingsDlgExist),
      TVariant::FromString(i.Description), TVariant::FromString(i.DeveloperName), TVariant::FromString(i.CI_email),
      TVariant::FromString(i.CI_www), TVariant::FromString(i.CI_Phones), TVariant::FromString(i.CI_address),
  };
  OutData = TakeVariantArray(items);
  return kOK;
}

int32_t TBaseDevice::GetSettingsMethod(TVariant& OutData) {
  TVariant table = MakeTable(kSettingRows, static_cast<LONG>(FSettingList.size()));
  LONG column = 0;
  for (const TSettingStruct& s : FSettingList) {
    PutCell(table, rowID, column, TVariant::FromString(s.ID));
    PutCell(table, rowValue, column, s.Value);
    PutCell(table, rowValueType, column, TVariant::FromString(DataTypeName(s.ValueType)));
    PutCell(table, rowDefault, column, s.Default);
    PutCell(table, rowReadOnly, column, TVariant::FromBool(s.ReadOnly));
    PutCell(table, rowName, column, TVariant::FromString(s.Name));
    PutCell(table, rowDescription, column, TVariant::FromString(s.Description));
    ++column;
  }
  OutData = MakeVariantArray({table});
  return kOK;
}

int32_t TBaseDevice::SetSettingsMethod(const TVariant& InData) {
  if (!VariantSafeArray(InData.Get())) return kBadParameters;
  const TVariant table = ArrayElement(InData.Get(), 0);
  LONG low = 0, high = -1;
  if (!VariantSafeArray(table.Get())) throw EVariantError(L"Variant is not an array");
  // A table has exactly two dimensions; cells are read with one index per dimension.
  if (!IsTwoDimensional(table.Get()) || !VariantArrayBounds(table.Get(), 2, low, high))
    throw Exception(L"Wrong index!");
  SAFEARRAY* sa = VariantSafeArray(table.Get());
  for (LONG column = low; column <= high; ++column) {
    const std::wstring id = VariantToString(SafeArrayItem(sa, {rowID, column}).Get());
    if (TSettingStruct* setting = FindSetting(id)) {
      // The value as sent, not converted to the setting's type; a reference is resolved,
      // since the host's variable does not outlive the call.
      setting->Value = TVariant::CopyInd(SafeArrayItem(sa, {rowValue, column}).Get());
    }
  }
  OnSettingsApplied();
  return kOK;
}

void TBaseDevice::StoreSettings() {
  FBufSettings.clear();
  for (const TSettingStruct& s : FSettingList) FBufSettings.push_back({s.ID, s.Value});
}

void TBaseDevice::StoreSettings(const std::vector<std::wstring>& IDs) {
  FBufSettings.clear();
  for (const std::wstring& id : IDs) {
    const TSettingStruct* s = FindSetting(id);
    FBufSettings.push_back({id, s ? s->Value : TVariant()});
  }
}

void TBaseDevice::RestoreSettings() {
  for (const TShortSettingStruct& entry : FBufSettings)
    if (TSettingStruct* s = FindSetting(entry.ID)) s->Value = entry.Value;
  FBufSettings.clear();
}

// ---------------------------------------------------------------------------------------------
// A trial of edited settings on the live device

namespace {
void PutValues(TBaseDevice& Device, const std::vector<TShortSettingStruct>& Values) {
  for (const TShortSettingStruct& entry : Values)
    if (TSettingStruct* s = Device.FindSetting(entry.ID)) s->Value = entry.Value;
}
}  // namespace

TDeviceTrial::TDeviceTrial(TBaseDevice& Device)
    : FDevice(Device),
      FState(Device.FDeviceState),
      FEnabledSettings(Device.FEnabledSettings),
      FDebugLogEnabled(Device.GetDebugLogEnabled()),
      FDebugLogDir(Device.FDebugLogDir),
      FRestoreProcessState(Device.KeepProcessState()) {
  for (const TSettingStruct& s : Device.FSettingList) FValues.push_back({s.ID, s.Value});
}

TDeviceTrial::~TDeviceTrial() {
  std::wstring ignored;
  Finish(ignored);
}

int32_t TDeviceTrial::Finish(std::wstring& ResultDescription) noexcept {
  ResultDescription.clear();
  if (FFinished) return TBaseDevice::kOK;
  FFinished = true;
  int32_t code = TBaseDevice::kOK;
  try {
    FDevice.Disable();
  } catch (...) {
  }
  if (FState == dsEnabled) {
    // With the values the host's own last Enable took, not those the trial wrote.
    code = FDevice.Guarded(ResultDescription, [&] {
      PutValues(FDevice, FEnabledSettings);
      std::wstring description;
      const int32_t enabled = FDevice.Enable(description);
      ResultDescription = description;
      return enabled;
    });
    if (code != TBaseDevice::kOK) {
      // Not enabled with settings the host never confirmed.
      try {
        FDevice.Disable();
      } catch (...) {
      }
      FDevice.FDeviceState = dsInited;
    }
  } else {
    // A disable that failed must not leave the device running on the trial's settings.
    FDevice.FDeviceState = FState;
  }
  try {
    PutValues(FDevice, FValues);
    FDevice.FEnabledSettings = FEnabledSettings;
    FDevice.FDebugLogDir = FDebugLogDir;
    FDevice.SetDebugLogEnabled(FDebugLogEnabled);
  } catch (...) {
  }
  try {
    if (FRestoreProcessState) FRestoreProcessState();
  } catch (...) {
  }
  return code;
}

// ---------------------------------------------------------------------------------------------
// Debug log: the header and the masked setting tables

void TBaseDevice::BeginDebugLog() {
  const TModuleVersion version = GetModuleVersion();
  WriteDebugLog(std::wstring(40, L' '), L"", true);
  WriteDebugLog(L"============Begin debug log=============", L"", true);
  WriteDebugLog(L"driver ver.", std::to_wstring(version.Major) + L"." + std::to_wstring(version.Minor) + L"." +
                                    std::to_wstring(version.Build));
  WriteDebugLog(L"device ID", FDeviceID);
  WriteDebugLog(L"----------------Settings----------------", L"", true);
  for (const TSettingStruct& s : FSettingList) WriteDebugLog(s.ID, ValueToText(SettingValueForLog(s).Get()));
  WriteDebugLog(std::wstring(40, L'-'), L"", true);
}

TVariant TBaseDevice::MaskedSettingsTable(const VARIANT& Table) const {
  SAFEARRAY* sa = VariantSafeArray(Table);
  LONG rowLow = 0, rowHigh = -1, colLow = 0, colHigh = -1;
  VariantArrayBounds(Table, 1, rowLow, rowHigh);
  VariantArrayBounds(Table, 2, colLow, colHigh);
  TVariant result = NewVariantArray(
      {{static_cast<ULONG>(rowHigh - rowLow + 1), rowLow}, {static_cast<ULONG>(colHigh - colLow + 1), colLow}});
  const TVariant mask = TVariant::FromString(kSecretMask);
  for (LONG column = colLow; column <= colHigh; ++column) {
    // Only a column whose ID names a setting that is not secret shows its values: one whose ID
    // cannot be read, or names no setting (a mistyped ID, a table sent the other way round),
    // might hold the password all the same.
    const TSettingStruct* setting = nullptr;
    if (rowLow <= rowID && rowID <= rowHigh) {
      try {
        setting = FindSetting(VariantToString(SafeArrayItem(sa, {rowID, column}).Get()));
      } catch (const Exception&) {
      }
    }
    for (LONG row = rowLow; row <= rowHigh; ++row) {
      LONG cell[2] = {row, column};
      const bool isValue = row == rowValue || row == rowDefault;
      const TVariant value = !isValue ? SafeArrayItem(sa, cell)
                             : setting ? ValueForLog(*setting, SafeArrayItem(sa, cell))
                                       : mask;
      PutVariantArrayItem(result, cell, value.Get());
    }
  }
  return result;
}

std::wstring TBaseDevice::TraceDataText(const std::wstring& MethodName, TTraceData Kind, const VARIANT& Data) {
  const bool settingsIn = Kind == tdInData && MethodName == L"SetSettings";
  const bool settingsOut = Kind == tdOutData && MethodName == L"GetSettings";
  if (!settingsIn && !settingsOut) return TBaseObject::TraceDataText(MethodName, Kind, Data);

  const TVariant mask = TVariant::FromString(kSecretMask);
  SAFEARRAY* sa = VariantSafeArray(Data);
  if (!sa || SafeArrayGetDim(sa) != 1) {
    // The host's settings argument in a shape no table has: nothing in it is known not to be secret.
    if (settingsIn && InnermostVariant(&Data)->vt != VT_EMPTY) return ArrayToText(mask.Get());
    return TBaseObject::TraceDataText(MethodName, Kind, Data);
  }
  LONG low = 0, high = -1;
  VariantArrayBounds(Data, 1, low, high);
  TVariant shown = NewVariantArray({{static_cast<ULONG>(high - low + 1), low}});
  for (LONG i = low; i <= high; ++i) {
    const TVariant item = SafeArrayItem(sa, &i);
    const VARIANT& inner = *InnermostVariant(&item.Get());
    TVariant value;
    if (IsTwoDimensional(inner))
      value = MaskedSettingsTable(inner);
    else if (settingsIn)
      value = mask;  // SetSettings reads a table only; anything else of the host's stays hidden
    else
      value = item;  // GetSettings' own error array: code and text
    PutVariantArrayItem(shown, &i, value.Get());
  }
  return ArrayToText(shown.Get());
}

// ---------------------------------------------------------------------------------------------
// Callbacks into the equipment manager

bool TBaseDevice::DataEvent(const std::wstring& Event, const std::wstring& Data, const TVariant& ExtData) {
  TVariant event = TVariant::FromString(Event), data = TVariant::FromString(Data);
  // The host gets a reference to a copy: what it writes there stays with it.
  TVariant ext = TVariant::CopyInd(ExtData.Get());
  const TVariant result = CallEqManager(L"DataEvent", {BstrArg(event), BstrArg(data), VariantRefArg(ext)});
  const bool answer = VariantToBool(result.Get());
  std::wstring text = L"Event=" + Event + L"; Data: " + Data;
  if (!ExtData.IsEmpty()) text += L"; ExtData: " + ValueToText(ExtData.Get());
  WriteDebugLog(L"<-DataEvent", text);
  return answer;
}

bool TBaseDevice::DataEvent(const std::wstring& Event, const std::wstring& Data) {
  return DataEvent(Event, Data, TVariant());
}

bool TBaseDevice::ErrorEvent(const std::wstring& ErrorName, const std::wstring& Description, const TVariant& ExtData) {
  TVariant name = TVariant::FromString(ErrorName), description = TVariant::FromString(Description);
  TVariant ext = TVariant::CopyInd(ExtData.Get());
  const TVariant result = CallEqManager(L"ErrorEvent", {BstrArg(name), BstrArg(description), VariantRefArg(ext)});
  return VariantToBool(result.Get());
}

int32_t TBaseDevice::ShowMessageDlg(const std::wstring& MsgText, int32_t MsgType, int32_t MsgButtons,
                                    int32_t MsgTimeout) {
  TVariant text = TVariant::FromString(MsgText);
  LONG type = MsgType, buttons = MsgButtons, timeout = MsgTimeout;
  const TVariant result =
      CallEqManager(L"MessageDlg", {BstrArg(text), IntRefArg(type), IntRefArg(buttons), IntRefArg(timeout)});
  return VariantToInt(result.Get());
}

std::wstring TBaseDevice::InputDataDlg(const std::wstring& Caption, const std::wstring& DefaultData,
                                       const std::wstring& Description, const std::wstring& Mask, bool Password,
                                       int32_t TimeOut) {
  TVariant caption = TVariant::FromString(Caption), defaultData = TVariant::FromString(DefaultData),
           description = TVariant::FromString(Description), mask = TVariant::FromString(Mask);
  LONG timeOut = TimeOut;
  const TVariant result = CallEqManager(L"InputDataDlg", {BstrArg(caption), BstrArg(defaultData), BstrArg(description),
                                                          BstrArg(mask), BoolArg(Password), IntRefArg(timeOut)});
  return VariantToString(result.Get());
}

bool TBaseDevice::TaskState(int32_t aPercent, const std::wstring& aDescription) {
  TVariant description = TVariant::FromString(aDescription);
  LONG percent = aPercent;
  const TVariant result = CallEqManager(L"TaskState", {IntRefArg(percent), BstrArg(description)});
  const bool answer = VariantToBool(result.Get());
  // The percent as the host left it.
  WriteLog(L"TaskState",
           L"Percent=" + std::to_wstring(percent) + L"; Description=" + aDescription + L"; Result=" +
               (answer ? L"True" : L"False"),
           1);
  return answer;
}

bool TBaseDevice::WriteLog(const std::wstring& Name, const std::wstring& Text, int32_t EventType) {
  WriteDebugLog(Name, Text);
  if (!GetEventLogEnabled() || FEqManager.IsEmpty()) return false;
  TVariant name = TVariant::FromString(Name), text = TVariant::FromString(Text);
  LONG eventType = EventType;
  const TVariant result = CallEqManager(L"WriteLog", {BstrArg(name), BstrArg(text), IntRefArg(eventType)});
  return VariantToBool(result.Get());
}

// ---------------------------------------------------------------------------------------------
// Focus stack

void TBaseDevice::StoreFocus() {
  HWND h = GetForegroundWindow();
  FWindows.push_back(h);  // a null entry too, so that pushes and pops stay paired
  if (h) EnableWindow(h, FALSE);
}

void TBaseDevice::RestoreFocus() {
  if (FWindows.empty()) return;
  HWND h = FWindows.back();
  if (h) {
    EnableWindow(h, TRUE);
    if (h != GetForegroundWindow()) {
      SetForegroundWindow(h);
      SendMessageW(h, WM_SETFOCUS, 0, 0);
    }
  }
  FWindows.pop_back();
}
