#include "cli/LuMain.h"

int main(int argc, char** argv) {
  const lu14::cli::Console console;
  return lu14::cli::LuMain(std::vector<std::string>(argv + 1, argv + argc), console);
}
