#include "cli/run.hpp"
#include "platform/platform.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = imgpack::platform::start_program(argc, argv);
    std::vector<const char*> args;
    args.reserve(arguments.size());
    for (const auto& argument : arguments) {
        args.push_back(argument.c_str());
    }
    return imgpack::run_cli(args);
}
