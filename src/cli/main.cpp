#include "cli/run.hpp"

int main(int argc, char** argv) {
    return imgpack::run_program(argc, argv);
}
