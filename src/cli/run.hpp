#pragma once

#include <span>
#include <string>

namespace imgpack {

// The whole program: `args` is the argument vector, element 0 the program's
// own name. Prints the usage text or runs one conversion; every message goes
// to standard output. Returns the exit status, 0 or 1.
int run_cli(std::span<const char* const> args);

// run_cli() on the arguments of main(), as the platform gives them. Never
// throws: running out of memory anywhere ends in "Cannot allocate read
// buffer" and exit status 1.
int run_program(int argc, char** argv) noexcept;

} // namespace imgpack
