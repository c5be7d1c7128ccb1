// The setting registry of TBaseObject: declared settings in declaration order, with typed
// readers that use the standard variant conversions.
#include <windows.h>
#include <oleauto.h>

#include "platform/uLocale.h"
#include "platform/uStrings.h"
#include "uCOMSupport.h"

TSettingStruct* TBaseObject::FindSetting(const std::wstring& ID) noexcept {
  for (TSettingStruct& setting : FSettingList)
    if (AsciiSameText(setting.ID, ID)) return &setting;
  return nullptr;
}

const TSettingStruct* TBaseObject::FindSetting(const std::wstring& ID) const noexcept {
  return const_cast<TBaseObject*>(this)->FindSetting(ID);
}

void TBaseObject::AddSetting(const std::wstring& ID, TDataType ValueType, const TVariant& Default, bool ReadOnly,
                             const std::wstring& Name, const std::wstring& Description) {
  if (TSettingStruct* setting = FindSetting(ID)) {
    // A subclass redeclaring a base setting resets it; caption, type and place stay.
    setting->Value = Default;
    setting->Default = Default;
    setting->ReadOnly = ReadOnly;
    setting->Description = Description;
    return;
  }
  TSettingStruct setting;
  setting.ID = ID;
  setting.Value = Default;
  setting.ValueType = ValueType;
  setting.Default = Default;
  setting.ReadOnly = ReadOnly;
  setting.Name = Name;
  setting.Description = Description;
  FSettingList.push_back(std::move(setting));
}

TVariant TBaseObject::GetSettingValue(const std::wstring& ID, bool Default) const {
  const TSettingStruct* setting = FindSetting(ID);
  if (!setting) return TVariant();
  return Default ? setting->Default : setting->Value;
}

bool TBaseObject::GetSettingValueBool(const std::wstring& ID) const {
  return VariantToBool(GetSettingValue(ID, false).Get());
}

int32_t TBaseObject::GetSettingValueInt(const std::wstring& ID) const {
  return VariantToInt(GetSettingValue(ID, false).Get());
}

double TBaseObject::GetSettingValueDbl(const std::wstring& ID) const {
  return VariantToDouble(GetSettingValue(ID, false).Get());
}

int64_t TBaseObject::GetSettingValueCurr(const std::wstring& ID) const {
  return VariantToCurrency(GetSettingValue(ID, false).Get());
}

double TBaseObject::GetSettingValueDate(const std::wstring& ID) const { return GetSettingValueDbl(ID); }

std::wstring TBaseObject::GetSettingValueStr(const std::wstring& ID) const {
  return VariantToString(GetSettingValue(ID, false).Get());
}

bool TBaseObject::GetSettingReadOnly(const std::wstring& ID) const {
  const TSettingStruct* setting = FindSetting(ID);
  return setting && setting->ReadOnly;
}

void TBaseObject::SetSettingValue(const std::wstring& ID, const TVariant& Value) {
  if (TSettingStruct* setting = FindSetting(ID)) setting->Value = Value;
}

void TBaseObject::MarkSettingSecret(const std::wstring& ID) {
  if (TSettingStruct* setting = FindSetting(ID)) setting->Secret = true;
}

bool TBaseObject::IsSettingSecret(const std::wstring& ID) const noexcept {
  const TSettingStruct* setting = FindSetting(ID);
  return setting && setting->Secret;
}

void TBaseObject::SetSettingLogView(const std::wstring& ID, std::function<TVariant(const TVariant&)> View) {
  if (TSettingStruct* setting = FindSetting(ID)) setting->LogView = std::move(View);
}

TVariant TBaseObject::SettingValueForLog(const TSettingStruct& Setting) const {
  return ValueForLog(Setting, Setting.Value);
}

TVariant TBaseObject::ValueForLog(const TSettingStruct& Setting, const TVariant& Value) {
  if (Setting.Secret) return TVariant::FromString(kSecretMask);
  return Setting.LogView ? Setting.LogView(Value) : Value;
}

void TBaseObject::SetAllSettingsDefault() {
  for (TSettingStruct& setting : FSettingList) setting.Value = setting.Default;
}

std::wstring TBaseObject::DataTypeName(TDataType ValueType) {
  switch (ValueType) {
    case dtNumber: return L"Number";
    case dtString: return L"String";
    case dtDateTime: return L"Date";
    case dtBoolean: return L"Boolean";
  }
  return {};
}

TVariant TBaseObject::TextToSettingValue(TDataType ValueType, const std::wstring& Text) {
  switch (ValueType) {
    case dtNumber: {
      // A whole number is stored as the integer every other path stores (the defaults, the
      // driver's page), so the host reads one type back from GetSettings.
      int32_t whole = 0;
      if (TryTextToInt32(Text, whole)) return TVariant::FromInt(whole);
      double value = 0.0;
      if (TryTextToFloat(Text, value)) return TVariant::FromDouble(value);
      return TVariant::FromInt(0);  // no number: 0
    }
    case dtDateTime: {
      DATE date = 0;
      TBstr text(Text);
      if (SUCCEEDED(VarDateFromStr(text.Get(), LOCALE_USER_DEFAULT, 0, &date))) return TVariant::FromDate(date);
      return TVariant::FromString(Text);
    }
    case dtBoolean:
      return TVariant::FromBool(AsciiSameText(Text, L"True"));
    case dtString:
      break;
  }
  return TVariant::FromString(Text);
}
