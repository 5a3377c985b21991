#include <string>
#include <vector>

#include "spell_app.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  std::unique_ptr<spell_helper::SpellChecker> checker = spell_helper::make_platform_checker();
  return spell_helper::run_program(args, *checker);
}
