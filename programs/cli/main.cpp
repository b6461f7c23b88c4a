// movantrix-cli: the command-line program; the logic lives in src/cli.
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    mvx::cli::SystemEnvironment environment;
    return mvx::cli::run(args, std::cout, std::cerr, environment);
}
