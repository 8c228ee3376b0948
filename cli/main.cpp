#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.hpp"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return tamberlit::RunCommandLine(arguments, std::cout, std::cerr);
}
