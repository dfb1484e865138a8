// veldmix-tool json FILE: reads the file as the program reads its text files, parses it with the
// program's JSON reader and prints the value back in canonical form (one line).
#include <cstdio>
#include <string>
#include <vector>

#include "base/json.h"
#include "base/text_file.h"
#include "platform/files.h"
#include "platform/text.h"

int RunJsonCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool json FILE\n");
    return 2;
  }
  const std::string& path = args[0];
  bool unreadable = false;
  const std::wstring wpath = PathFromBytes(path);
  std::wstring text = ReadTextFile(wpath, &unreadable);
  if (unreadable) {
    std::fprintf(stderr, "veldmix-tool json: %s: cannot be read\n", path.c_str());
    return 1;
  }
  // A missing file reads as empty text, like an empty one; only the message differs.
  if (text.empty() && FileSize(wpath) < 0) {
    std::fprintf(stderr, "veldmix-tool json: %s: no such file\n", path.c_str());
    return 1;
  }
  JsonValue value;
  if (!JsonParse(text, &value)) {
    std::fprintf(stderr, "veldmix-tool json: %s: not a valid JSON document\n", path.c_str());
    return 1;
  }
  std::string line = WideToUtf8(JsonWrite(value));
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
