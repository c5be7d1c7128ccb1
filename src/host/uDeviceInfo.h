#pragma once
// What a device tells about itself: type, version and the developer's contacts.
// The device layer adds its own fields here.
#include <cstdint>
#include <string>

struct TDeviceInfoStruct {
  std::wstring TypeName;
  int32_t MajorVersion = 0;
  int32_t MinorVersion = 0;
  int32_t BuildVersion = 0;
  std::wstring CI_email;
  std::wstring CI_www;
  std::wstring CI_Phones;
  std::wstring CI_address;
};
