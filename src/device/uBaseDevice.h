#pragma once
// TBaseDevice: the device object every driver of this kind shares. Lifecycle (Init, Open,
// Enable, Disable, Close, CheckHealth), the link to the host's equipment manager, device
// information, the settings exchange, callbacks into the host and the focus stack.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/uCOMSupport.h"
#include "host/uDeviceInfo.h"

enum TDeviceState : uint8_t { dsCreated = 0, dsInited = 1, dsEnabled = 2, dsUnknown = 3 };

// One entry of the settings snapshot that the settings dialog undoes edits with.
struct TShortSettingStruct {
  std::wstring ID;
  TVariant Value;
};

// A device command offered as a menu item of the settings dialog.
struct TAdditionalAction {
  std::wstring ID;
  std::wstring Caption;
};

// The IDs of the settings every device has. A mistyped ID would read as an empty value.
inline constexpr wchar_t kSettingDefaultTimeOut[] = L"DefaultTimeOut";
inline constexpr wchar_t kSettingEventLogEnabled[] = L"EventLogEnabled";
inline constexpr wchar_t kSettingDebugLogEnabled[] = L"DebugLogEnabled";

class TBaseDevice;
class TfrmBaseSettings;  // a settings page; the dialogs define it

// Makes one settings page for a device; the dialogs define the page classes.
using TSettingsPageClass = std::function<std::unique_ptr<TfrmBaseSettings>(TBaseDevice& Device)>;

// Shows the settings dialog for a device with the given pages, modally, and frees it again;
// true when it was closed with OK. The dialogs register it; the device layer cannot include them.
using TSettingsDialogExecutor =
    std::function<bool(TBaseDevice& Device, const std::vector<TSettingsPageClass>& PageClasses, bool NoDeviceTest)>;
// Registers the settings dialog (an empty function removes it). While none is registered,
// ExecuteSettingsDialog raises "Команда не поддерживается устройством".
void RegisterSettingsDialog(TSettingsDialogExecutor Executor);

class TBaseDevice : public TBaseObject {
public:
  // Result codes this layer produces.
  static constexpr int32_t kOK = 0;
  static constexpr int32_t kNotEnabled = 70;
  static constexpr int32_t kCancelled = 201;
  static constexpr int32_t kNotSupported = 1003;
  static constexpr int32_t kBadParameters = 1004;

  TBaseDevice();

  void Initialize() override;
  void BeforeDestruction() noexcept override;
  void BeginDebugLog() override;

  // ---- Properties
  TDeviceState DeviceState() const noexcept { return FDeviceState; }
  bool GetEnabled() const noexcept { return FDeviceState == dsEnabled; }
  void SetEnabled(bool Value);
  const TVariant& EqManager() const noexcept { return FEqManager; }
  const std::wstring& DeviceID() const noexcept { return FDeviceID; }
  const TDeviceInfoStruct& DeviceInfo() const noexcept { return FDeviceInfo; }
  int32_t GetDefaultTimeOut() const;
  void SetDefaultTimeOut(int32_t Value);
  bool GetEventLogEnabled() const;
  void SetEventLogEnabled(bool Value);
  // The host's models folder + ModelID, with a trailing delimiter.
  std::wstring ModelFolder() const;

  // Settings by position (declaration order), for the settings list; null outside the range.
  // A record stays where it is for the object's life: settings are declared only while it
  // initialises.
  int SettingsCount() const noexcept { return static_cast<int>(FSettingList.size()); }
  TSettingStruct* Settings(int Index) noexcept;
  using TBaseObject::Settings;
  int AddActionsCount() const noexcept { return static_cast<int>(FAdditionalActions.size()); }
  TAdditionalAction* AddActions(int Index) noexcept;

  std::wstring DeviceFolder;  // the host's devices folder + device ID + "\", set by Open
  std::wstring Language;      // the host's "Language", set by Init

  // ---- Host application data
  // Asks the equipment manager for an application property; "" when it has none.
  // Raises "Менеджер оборудования недоступен" while no equipment manager is attached.
  std::wstring GetAppProperty(const std::wstring& PropName);
  std::wstring GetDeviceFolder();
  std::wstring GetLanguage() { return GetAppProperty(L"Language"); }

  // ---- Settings dialog, snapshot and exchange
  bool ExecuteSettingsDialog(const std::vector<TSettingsPageClass>& PageClasses, bool NoDeviceTest);
  void StoreSettings();
  void StoreSettings(const std::vector<std::wstring>& IDs);
  void RestoreSettings();
  const std::vector<TShortSettingStruct>& BufSettings() const noexcept { return FBufSettings; }

  // ---- Callbacks into the equipment manager
  bool DataEvent(const std::wstring& Event, const std::wstring& Data, const TVariant& ExtData);
  bool DataEvent(const std::wstring& Event, const std::wstring& Data);
  bool ErrorEvent(const std::wstring& ErrorName, const std::wstring& Description, const TVariant& ExtData);
  int32_t ShowMessageDlg(const std::wstring& MsgText, int32_t MsgType, int32_t MsgButtons, int32_t MsgTimeout);
  std::wstring InputDataDlg(const std::wstring& Caption, const std::wstring& DefaultData,
                            const std::wstring& Description, const std::wstring& Mask, bool Password,
                            int32_t TimeOut);
  bool TaskState(int32_t aPercent, const std::wstring& aDescription);
  bool WriteLog(const std::wstring& Name, const std::wstring& Text, int32_t EventType);

  // ---- Focus stack: the host's window is disabled while a device window is up.
  void StoreFocus();
  void RestoreFocus();
  size_t FocusStackDepth() const noexcept { return FWindows.size(); }

  // ---- Virtual operations, in slot order
  virtual int32_t EnableMethod(TVariant& InData, TVariant& OutData, int32_t TimeOut, std::wstring& ResultDescription);
  virtual int32_t DoDisable(std::wstring& ResultDescription);
  virtual int32_t DisableMethod(TVariant& InData, TVariant& OutData, int32_t TimeOut, std::wstring& ResultDescription);
  virtual void DeclareSettings();
  virtual void RegisterMethods();
  virtual void OnSettingsApplied() {}
  virtual void OnSetDeviceInfo() {}
  virtual int32_t OnEnable(std::wstring& ResultDescription);
  virtual int32_t OnDisable(std::wstring& ResultDescription);
  virtual int32_t DoCheckHealth(std::wstring& ResultDescription);
  virtual bool OnShowSettings() { return false; }
  virtual void OnCreate() {}
  virtual void OnDestroy() {}
  virtual int32_t OnInit(std::wstring& ResultDescription);
  virtual int32_t OnOpen(std::wstring& ResultDescription);
  virtual void OnAfterClose() {}
  virtual void OnBeforeClose() {}
  virtual std::wstring GetDeviceVersion();
  virtual bool DeviceTest(std::wstring& ResultDescription);
  virtual int32_t RunAdditionalAction(const std::wstring& ID, std::wstring& ResultDescription);
  virtual int32_t Enable(std::wstring& ResultDescription);
  virtual int32_t Enable();
  virtual int32_t Disable();
  // What the device keeps for the whole process rather than in itself (the driver: the
  // exchange log's level, encoding and file), read now; calling the result puts it back. Empty
  // when there is nothing.
  virtual std::function<void()> KeepProcessState() { return {}; }

protected:
  ~TBaseDevice() override;

  // Fills the device information defaults, then lets each class put in its own values.
  void InitDeviceInfo();

  // Setting tables in the trace show secret values masked.
  std::wstring TraceDataText(const std::wstring& MethodName, TTraceData Kind, const VARIANT& Data) override;

  TDeviceState FDeviceState = dsCreated;
  // Every setting's value as the last successful Enable took it.
  std::vector<TShortSettingStruct> FEnabledSettings;
  std::vector<HWND> FWindows;
  std::wstring FModelsFolder;
  std::vector<TShortSettingStruct> FBufSettings;
  std::vector<TAdditionalAction> FAdditionalActions;
  TVariant FEqManager;
  std::wstring FDeviceID;
  TDeviceInfoStruct FDeviceInfo;

private:
  friend class TDeviceTrial;

  // Host method handlers.
  TVariant InitMethod(TVariantArray& Params);
  TVariant OpenMethod(TVariantArray& Params);
  TVariant CloseMethod(TVariantArray& Params);
  int32_t ShowSettingsDlgMethod(std::wstring& ResultDescription);
  int32_t GetDeviceInfoMethod(TVariant& OutData);
  int32_t GetSettingsMethod(TVariant& OutData);
  int32_t SetSettingsMethod(const TVariant& InData);

  // A reference of its own to the attached equipment manager, held for the length of a call
  // (the host may detach the manager from inside it); raises "Менеджер оборудования
  // недоступен" when there is none.
  TVariant AttachedEqManager() const;
  // Calls the equipment manager's Method with the device ID in front of Args (by reference where
  // the host's signature asks for it), holding the manager for the length of the call.
  TVariant CallEqManager(const wchar_t* Method, std::vector<VARIANT> Args, bool IdByReference = false);
  // A copy of a settings table whose secret values show as the mask.
  TVariant MaskedSettingsTable(const VARIANT& Table) const;
};

// A trial of the settings being edited on the live device: the settings dialog's device test
// writes them into the settings and enables the device with them. Made before the trial;
// Finish (or the destructor) then leaves the device as the trial found it, so the host's next
// call meets the device it had: disabled, or enabled again with the settings its last Enable
// took (what the host confirmed, not what the dialog holds); every setting's value, the debug
// log's switch and folder, and what the device keeps process-wide (KeepProcessState) as they
// were.
class TDeviceTrial {
public:
  explicit TDeviceTrial(TBaseDevice& Device);
  ~TDeviceTrial();
  TDeviceTrial(const TDeviceTrial&) = delete;
  TDeviceTrial& operator=(const TDeviceTrial&) = delete;

  // Puts everything back (once); the result code of enabling again, with its description
  // (kOK when the device was not enabled). Never throws.
  int32_t Finish(std::wstring& ResultDescription) noexcept;

private:
  TBaseDevice& FDevice;
  bool FFinished = false;
  TDeviceState FState;
  std::vector<TShortSettingStruct> FValues;
  std::vector<TShortSettingStruct> FEnabledSettings;
  bool FDebugLogEnabled;
  std::wstring FDebugLogDir;
  std::function<void()> FRestoreProcessState;
};
