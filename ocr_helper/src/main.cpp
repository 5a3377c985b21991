#include <iostream>
#include <string>
#include <vector>

#include "ocr_app.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  std::unique_ptr<ocr_helper::Engine> engine = ocr_helper::make_platform_engine();
  return ocr_helper::run_program(args, *engine, std::cout);
}
