// kmx: a small host over keymux's public C interface, for trying the
// library from a shell the way xinput test, evtest and xdotool are used.
#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"kmx: system-wide hot keys, raw input, chords and key state through keymux"};
  app.require_subcommand(1);

  app.add_subcommand("info", "Print the interface version, backend name and capability bits");

  kmx_tool::ListenOptions listen;
  auto* listen_cmd = app.add_subcommand("listen", "Print one JSON object per event until interrupted");
  listen_cmd->add_flag("--keys", listen.keys, "Report raw key presses and releases");
  listen_cmd->add_flag("--buttons", listen.buttons, "Report pointer button presses and releases");
  listen_cmd->add_flag("--drag", listen.drag, "Report pointer motion while the left button is held");
  listen_cmd->add_option("--hotkey", listen.hotkeys, "Register a hot key, ID=ACCELERATOR (repeatable)");
  listen_cmd->add_option("--count", listen.count, "Stop after this many events");

  std::string chord;
  auto* chord_cmd = app.add_subcommand("chord", "Type a chord such as Ctrl+Shift+K into the focused window");
  chord_cmd->add_option("chord", chord, "Modifiers and one key, joined with +")->required();

  std::vector<std::string> keys;
  auto* keys_cmd = app.add_subcommand("keys", "Print whether each named key is held");
  keys_cmd->add_option("names", keys, "Portable key names such as KeyA or ShiftLeft")->required();

  app.add_subcommand("demo", "Register hot keys, type them, and report the round trip in plain words");

  CLI11_PARSE(app, argc, argv);

  const std::string command = app.get_subcommands().front()->get_name();
  if (command == "info") return kmx_tool::run_info();
  if (command == "listen") return kmx_tool::run_listen(listen);
  if (command == "chord") return kmx_tool::run_chord(chord);
  if (command == "keys") return kmx_tool::run_keys(keys);
  return kmx_tool::run_demo();
}
