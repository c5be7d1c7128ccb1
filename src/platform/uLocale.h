#pragma once
// Number and time texts in the user's locale (read from the system each time, never cached
// and never changed: the host owns the process's format state).
#include <cstdint>
#include <string>
#include <string_view>

std::wstring UserDecimalSeparator();
std::wstring UserTimeSeparator();

// General format with at most 15 significant digits: fixed notation while the number has at
// most 15 integer digits and is not below 0.0001 in magnitude, otherwise d.dddE[-]x; the user
// locale's decimal separator, no thousands separators ("1,5", "1E20", "1,5E-7" in Russian).
std::wstring FloatToText(double Value);
// FloatToText of the double nearest to TenThousandths / 10000 (a VT_CY value), computed in
// integers only: on i686 the division would run on the x87 unit at the precision the host's
// thread chose. The bank's amount text (bank/uTextUtils.h) is the same computation; the include
// rule keeps the two apart.
std::wstring CurrencyToText(int64_t TenThousandths);

// Parses a number written with the user locale's decimal separator (and an optional sign and
// exponent, blanks around it allowed); false for anything else, thousands separators included.
bool TryTextToFloat(std::wstring_view Text, double& Value);
// TryTextToFloat's number when it is a whole number within 32 bits ("45", "-2,5E3"); false for
// a fraction, a number out of that range, or a text that is no number.
bool TryTextToInt32(std::wstring_view Text, int32_t& Value);
