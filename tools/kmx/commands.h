// The kmx subcommands; each returns the program's exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmx_tool {

struct ListenOptions {
  bool keys = false;
  bool buttons = false;
  bool drag = false;
  std::vector<std::string> hotkeys;  // "ID=ACCEL"
  uint64_t count = 0;                // stop after this many events; 0: until interrupted
};

int run_info();
int run_listen(const ListenOptions& options);
int run_chord(const std::string& chord);
int run_keys(const std::vector<std::string>& names);
int run_demo();

}  // namespace kmx_tool
