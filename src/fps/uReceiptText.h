#pragma once
// The receipt text of the payment operations: date and time, the kind of operation, the amount
// and the payment's identifier, one value per line pushed to the right edge.
#include <cstdint>
#include <string>

enum TReceiptOperation : int32_t { roPayment = 1, roRefund = 2 };

// Label, then the value right-aligned in a field of (Width - label length) characters, as
// "%s%*s" lays it out: a value as long as the field or longer follows the label uncut; a
// negative field (the label alone is wider) left-aligns the value in (label length - Width)
// characters. Widths count UTF-16 code units.
std::wstring FormatReceiptLine(const std::wstring& Label, const std::wstring& Value, int32_t Width);

// The widest receipt line laid out, either way. The receipt is built after the bank has done
// the payment or the refund: a mistyped line length must not make that fail (out of memory)
// and be reported to the host as not done. No printer prints a line this long.
inline constexpr int32_t kMaxReceiptWidth = 1024;

// The whole receipt, every line ending in CR LF. Amount in ten-thousandths, Date an OLE date.
// The two identifier lines only for a non-empty Id. An unknown Operation raises. Width is
// taken within -kMaxReceiptWidth..kMaxReceiptWidth.
std::wstring BuildReceiptText(int32_t Operation, const std::wstring& Id, int64_t Amount, double Date, int32_t Width);

// "0.00": at least one integer digit, two decimals rounded half away from zero, "." whatever
// the locale, no thousands separators.
std::wstring ReceiptAmountText(int64_t Amount);
