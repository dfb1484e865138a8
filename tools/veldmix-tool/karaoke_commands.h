#pragma once
// The karaoke subcommands that live outside the screen's file.
#include <string>
#include <vector>

int RunKaraokeQueue(const std::vector<std::string>& args);
int RunKaraokeUpNext(const std::vector<std::string>& args);
