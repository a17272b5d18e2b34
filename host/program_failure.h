// How a host program reports a failure that ends it: one line on standard
// error, "PROGRAM: reason", and its exit status.
#ifndef TAVIK_HOST_PROGRAM_FAILURE_H_
#define TAVIK_HOST_PROGRAM_FAILURE_H_

#include <string_view>

namespace tavik {

class ProgramFailure {
 public:
  // Failures of the program `program` ("tavik-search") end it with
  // `exit_status`.
  constexpr ProgramFailure(std::string_view program, int exit_status)
      : program_(program), exit_status_(exit_status) {}

  // Writes the program's name, ": ", `reason` and a line end to standard
  // error and returns the exit status, for `return Fail(...)` in main.
  int operator()(std::string_view reason) const;

 private:
  std::string_view program_;
  int exit_status_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_PROGRAM_FAILURE_H_
