#pragma once
// Result codes of host methods and their description texts.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct TResultText {
  int32_t Code;
  const wchar_t* Text;
};

// Every code that has a text of its own, in ascending order.
std::span<const TResultText> ResultTexts() noexcept;

// The description of a result: a non-empty Description wins for a non-zero code;
// otherwise the table text of Code, or "Неизвестная ошибка" for a code without one.
std::wstring DescribeResult(int32_t Code, std::wstring_view Description);
