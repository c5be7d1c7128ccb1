#pragma once
// What a device tells about itself: type, model, version and the developer's contacts.
// Filled by the device layer (defaults, then each class's own values).
#include <cstdint>
#include <string>

struct TDeviceInfoStruct {
  std::wstring TypeName;
  std::wstring ModelID;
  std::wstring ModelName;
  int32_t MajorVersion = 0;
  int32_t MinorVersion = 0;
  int32_t BuildVersion = 0;
  std::wstring ProcessorName;
  int32_t ProcessorType = 0;
  bool IsSettingsDlgExist = false;
  std::wstring Description;
  std::wstring DeveloperName;
  std::wstring CI_email;
  std::wstring CI_www;
  std::wstring CI_Phones;
  std::wstring CI_address;
  std::wstring DriverURL;          // reserved, never sent
  std::wstring DriverDescription;  // reserved, never sent
};
