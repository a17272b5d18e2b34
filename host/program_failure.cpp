#include "host/program_failure.h"

#include <cstdio>
#include <string>

namespace tavik {

int ProgramFailure::operator()(std::string_view reason) const {
  const std::string line =
      std::string(program_) + ": " + std::string(reason) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return exit_status_;
}

}  // namespace tavik
