#pragma once
// A user-visible text kept in English with the values to fill into it. The English pattern is the
// key of the translation table, so it is translated first and filled afterwards (ui/language's
// TranslateFilled); a text formatted before it is translated never matches its row. Any layer may
// build one; only drawing code translates it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

struct UiText;
// One value to fill in: whole numbers, real numbers, texts (a character is a one-letter text) and
// texts of the interface themselves, translated on their own ("{}. {}" joining a reason and a
// result).
using UiTextArg = std::variant<int64_t, uint64_t, double, std::wstring, std::shared_ptr<const UiText>>;

struct UiText {
  std::wstring pattern;          // English: a {fmt} pattern when `formatted`, else the text itself
  std::vector<UiTextArg> args;   // the values, in the order of the pattern's fields
  bool formatted = false;        // false: a plain text, never formatted (braces and all)

  UiText() = default;
  UiText(std::wstring text) : pattern(std::move(text)) {}
  UiText(std::wstring_view text) : pattern(text) {}
  UiText(const wchar_t* text) : pattern(text) {}
  bool empty() const { return pattern.empty(); }
  bool operator==(const UiText& other) const;  // by content, texts inside included
};

// The text in English with its values filled in (logs, tests). A pattern its values do not fit
// comes back as the bare pattern.
std::wstring EnglishText(const UiText& text);
// How a text inside a text is shown: EnglishText, or ui/language's TranslateFilled on screen.
using UiTextShower = std::wstring (*)(const UiText&);

// fmt shows a UiText as its English text (logs), which also lets UiFormat take one as a value.
template <>
struct fmt::formatter<UiText, wchar_t> : fmt::formatter<std::wstring_view, wchar_t> {
  template <typename FormatContext>
  auto format(const UiText& text, FormatContext& ctx) const -> decltype(ctx.out()) {
    return fmt::formatter<std::wstring_view, wchar_t>::format(EnglishText(text), ctx);
  }
};

// A value as UiFormat keeps it: signed and unsigned whole numbers widened, floats as double.
template <typename T>
UiTextArg ToUiTextArg(const T& value) {
  using V = std::remove_cvref_t<T>;
  static_assert(!std::is_same_v<V, bool> && !std::is_same_v<V, char>, "pass a number or a wide text");
  if constexpr (std::is_same_v<V, UiText>) return std::make_shared<const UiText>(value);
  else if constexpr (std::is_same_v<V, wchar_t>) return std::wstring(1, value);
  else if constexpr (std::is_integral_v<V> && std::is_signed_v<V>) return static_cast<int64_t>(value);
  else if constexpr (std::is_integral_v<V>) return static_cast<uint64_t>(value);
  else if constexpr (std::is_floating_point_v<V>) return static_cast<double>(value);
  else return std::wstring(std::wstring_view(value));
}

// A text to translate, then fill: UiFormat(L"Memory cue {} set at {}", 3, L"1:02.5"). The English
// pattern is checked against the values when compiled, as fmt::format's is.
template <typename... Args>
UiText UiFormat(fmt::wformat_string<Args...> pattern, Args&&... args) {
  const fmt::wstring_view view = pattern;
  UiText text{std::wstring(view.data(), view.size())};
  text.formatted = true;
  text.args.reserve(sizeof...(Args));
  (text.args.push_back(ToUiTextArg(args)), ...);
  return text;
}

// A count with its noun: `one` ("1 track") for 1, else `many` filled with n ("{} tracks"). Each is
// a row of its own, so languages that say a count differently get it right.
UiText CountText(uint64_t n, const wchar_t* one, fmt::wformat_string<uint64_t&> many);

// The pattern filled with the values, texts inside shown by `part`; false (and *out untouched)
// when they do not fit it (an unknown field, a spec the value's kind refuses, too few values).
// Never throws.
bool FillPattern(std::wstring_view pattern, const std::vector<UiTextArg>& args, std::wstring* out,
                 UiTextShower part = EnglishText);
// The text filled into `translated`, its pattern in another language. When the translation's fields
// differ from the English pattern's, or the values do not fit it, the English text instead: a faulty
// translation never loses a value or throws. A plain text comes back as `translated`.
// Texts inside are shown by `part`.
std::wstring FillTranslated(const UiText& text, std::wstring_view translated, UiTextShower part);
// The {fmt} fields of a pattern in order, braces included ("{}", "{:.1f}"); "{{" and "}}" are
// literal braces, not fields. Two patterns fill alike when their lists are equal.
std::vector<std::wstring_view> PatternFields(std::wstring_view pattern);
