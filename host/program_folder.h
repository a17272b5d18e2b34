// Where the running program lives, so a host can find the extension and the
// demo site, both in the build folder and where they are installed.
#ifndef TAVIK_HOST_PROGRAM_FOLDER_H_
#define TAVIK_HOST_PROGRAM_FOLDER_H_

#include <string>

namespace tavik {

// The folder of the running program with a trailing "/" and its links
// resolved, or "" (the current folder) when the system does not tell.
std::string ProgramFolder();

// The folder, with a trailing "/" and its links resolved, of the loaded
// file (the program or a shared library) that holds the code at `address`,
// or "" when the system does not tell.
std::string FolderOfCode(const void* address);

// `folder` + `built` when that exists (the build's layout); otherwise
// `folder` + `installed` (the install's, relative to `folder`), its ".."
// resolved when it exists.
std::string BuiltOrInstalled(const std::string& folder, const char* built,
                             const char* installed);

// The extension a host loads when it is not told which: libtavik.so next
// to the program, as the build leaves it; otherwise where the install puts
// it, ProgramFolder() + TAVIK_INSTALLED_LIBRARY (the library's folder
// relative to the programs' folder, "../lib/tavik/libtavik.so" for an
// install into /usr), which is also the answer when neither exists.
std::string DefaultExtensionPath();

// The demo site tavik-serve serves when not told which: "site" next to the
// program (the build makes it a link to the sources' site/); otherwise
// where the install puts it, ProgramFolder() + TAVIK_INSTALLED_SITE
// ("../share/tavik/site"), which is also the answer when neither exists.
std::string DefaultDemoSite();

}  // namespace tavik

#endif  // TAVIK_HOST_PROGRAM_FOLDER_H_
