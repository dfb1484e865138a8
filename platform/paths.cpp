#include "platform/paths.h"

std::wstring PathKey(const std::wstring& path) { return path; }

bool SamePath(const std::wstring& a, const std::wstring& b) { return PathKey(a) == PathKey(b); }
