#include "uDebugLog.h"

// Placeholder until the log writer lands: the trace is computed by callers but nothing is written.
std::wstring ValueToText(const VARIANT&) { return {}; }
std::wstring ArrayToText(const VARIANT&) { return {}; }
void WriteDebugLogLine(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&,
                       bool) noexcept {}
