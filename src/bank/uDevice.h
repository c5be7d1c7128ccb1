#pragma once
// TDevice: the driver's handle on the bank. It keeps the base URL, builds ITolvaro on the
// REST bridge with the JSON converter, and puts every call through two hooks: the request
// and the response go to the exchange log, and every error answer of the bank becomes an
// exception before a response record is built.
#include <memory>
#include <string>

#include "uDeviceCommon.h"
#include "uResponseCheck.h"

namespace bank {

class TDevice {
 public:
  // Numbers are formatted and read locale-independently, so there is no process-wide
  // decimal separator to fix here.
  TDevice() = default;
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  const std::string& BaseURL() const { return FBaseURL; }
  void SetBaseURL(const std::string& AValue) { FBaseURL = AValue; }
  const std::string& DeviceFolder() const { return FDeviceFolder; }
  void SetDeviceFolder(const std::string& AValue) { FDeviceFolder = AValue; }

  // A new interface on every call, fixed to the configuration of this moment. Its hooks refer
  // to this object: it must outlive every call made through the interface.
  std::shared_ptr<ITolvaro> GetApi();

  // Request hook: "> verb URL headers body" to the exchange log.
  void DoBeforeExecute(const std::string& ARequestMethod, const std::string& AURIStr, const TStream* ASourceStream,
                       TStream& AContentStream, THeaderList& AHeaders);
  // Response hook: "< StatusCode: ..." to the exchange log, then the response check; returns
  // only for an acceptable answer.
  void DoAfterExecute(const std::string& ARequestMethod, const std::string& AURIStr, const THTTPResponse& AResponse,
                      TStream& AContentStream);

 private:
  std::string FBaseURL;
  std::string FDeviceFolder;
};

}  // namespace bank
