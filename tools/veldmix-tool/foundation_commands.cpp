#include "tools/veldmix-tool/commands.h"

int RunSettingsCommand(const std::vector<std::string>& args);  // settings_command.cpp
int RunJsonCommand(const std::vector<std::string>& args);      // json_command.cpp

const ToolCommand kFoundationCommands[] = {
    {"settings", "DATAFOLDER", "load, then save, the settings file of that data folder", RunSettingsCommand},
    {"json", "FILE", "parse a JSON file and print it back canonically", RunJsonCommand},
};
const int kFoundationCommandCount = static_cast<int>(sizeof kFoundationCommands / sizeof kFoundationCommands[0]);
