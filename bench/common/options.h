// The benchmarks' command lines: each program declares its options with CLI11 (name, value,
// help, check) and reads them here, so that --help prints the usage generated from those
// declarations and a line that does not read is said the same way by every program.
#pragma once

#include <cstdlib>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

namespace bench {

// "PROGRAM: problem", then the usage, on stderr; exit status 2.
[[noreturn]] inline void UsageError(const CLI::App& app, const std::string& problem) {
  std::cerr << app.get_name() << ": " << problem << "\n" << app.help();
  std::exit(2);
}

// Parses the command line; --help prints the usage and exits 0, a mistake is a UsageError.
// Arguments not declared are left in app.remaining() when the program allows extras (the
// flags of Google Benchmark or of Qt, which the program passes on).
inline void ParseOptions(CLI::App& app, int argc, char** argv) {
  app.get_formatter()->column_width(34);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    std::exit(0);
  } catch (const CLI::ParseError& failure) {
    UsageError(app, failure.what());
  }
}

}  // namespace bench
