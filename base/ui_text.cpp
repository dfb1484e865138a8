#include "base/ui_text.h"

#include <exception>
#include <type_traits>
#include <variant>

#include <fmt/args.h>

bool UiText::operator==(const UiText& other) const {
  if (pattern != other.pattern || formatted != other.formatted || args.size() != other.args.size()) return false;
  for (size_t i = 0; i < args.size(); ++i) {
    const auto* mine = std::get_if<std::shared_ptr<const UiText>>(&args[i]);
    const auto* theirs = std::get_if<std::shared_ptr<const UiText>>(&other.args[i]);
    if (mine && theirs ? !(*mine && *theirs && **mine == **theirs) : args[i] != other.args[i]) return false;
  }
  return true;
}

bool FillPattern(std::wstring_view pattern, const std::vector<UiTextArg>& args, std::wstring* out,
                 UiTextShower part) {
  fmt::dynamic_format_arg_store<fmt::wformat_context> store;
  store.reserve(args.size(), args.size());
  for (const UiTextArg& arg : args) {
    std::visit(
        [&store, part](const auto& v) {
          if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::shared_ptr<const UiText>>)
            store.push_back(v ? part(*v) : std::wstring());
          else
            store.push_back(v);
        },
        arg);
  }
  try {
    *out = fmt::vformat(fmt::wstring_view(pattern.data(), pattern.size()), store);
    return true;
  } catch (const std::exception&) {  // fmt::format_error, or a value too large for its field
    return false;
  }
}

std::wstring EnglishText(const UiText& text) {
  if (!text.formatted) return text.pattern;
  std::wstring filled;
  return FillPattern(text.pattern, text.args, &filled) ? filled : text.pattern;
}

std::wstring FillTranslated(const UiText& text, std::wstring_view translated, UiTextShower part) {
  if (!text.formatted) return std::wstring(translated);
  std::wstring filled;
  if (PatternFields(translated) == PatternFields(text.pattern) && FillPattern(translated, text.args, &filled, part))
    return filled;
  return EnglishText(text);
}

std::vector<std::wstring_view> PatternFields(std::wstring_view pattern) {
  std::vector<std::wstring_view> fields;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const wchar_t c = pattern[i];
    if ((c == L'{' || c == L'}') && i + 1 < pattern.size() && pattern[i + 1] == c) {
      ++i;  // a literal brace
      continue;
    }
    if (c != L'{') continue;
    const size_t close = pattern.find(L'}', i);
    if (close == std::wstring_view::npos) break;
    fields.push_back(pattern.substr(i, close - i + 1));
    i = close;
  }
  return fields;
}

UiText CountText(uint64_t n, const wchar_t* one, fmt::wformat_string<uint64_t&> many) {
  return n == 1 ? UiText(one) : UiFormat(many, n);
}
