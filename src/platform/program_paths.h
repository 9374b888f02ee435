// Where the running program and the files installed with it are.
#pragma once

#include <string>

namespace sq {

// The full path of the running executable ("" when the system does not say).
std::string ProgramPath();

// The folder of the running executable, without a trailing "/".
std::string ProgramDirectory();

// The folder the image plug-ins were built or installed into: "plugins" beside the
// program in a build folder, the installed plug-in folder otherwise; the program's
// own folder when neither exists.
std::string DefaultPluginDirectory();

// The folder of the program's own shared libraries (the scanner source manager): the
// installed library folder, or the program's folder in a build folder.
std::string ProgramLibraryDirectory();

}  // namespace sq
