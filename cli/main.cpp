#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
  const orvel::CliEnvironment env = orvel::ProcessCliEnvironment();
  return orvel::RunCli(argc, argv, std::cout, std::cerr, env);
}
