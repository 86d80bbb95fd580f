#include "cli/run.hpp"

#include <cstddef>

int main(int argc, char** argv) {
    return imgpack::run_cli({argv, static_cast<std::size_t>(argc)});
}
