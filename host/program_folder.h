// Where the running program lives, so a host can find the extension built
// next to it.
#ifndef TAVIK_HOST_PROGRAM_FOLDER_H_
#define TAVIK_HOST_PROGRAM_FOLDER_H_

#include <string>

namespace tavik {

// The folder of the running program with a trailing "/", or "" (the current
// folder) when the system does not tell.
std::string ProgramFolder();

// The extension a host loads when it is not told which: the library built
// next to the program (ProgramFolder() + "libtavik.so").
std::string DefaultExtensionPath();

}  // namespace tavik

#endif  // TAVIK_HOST_PROGRAM_FOLDER_H_
