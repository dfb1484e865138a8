#pragma once
// The phone remote's built-in page: one self-contained HTML document (styles and script inline).
#include <string_view>

std::string_view RemotePage();
