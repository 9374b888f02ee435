// Making the program the opener of a file type.  The record of who opens what is kept
// in the registry's classes root, and the same association is made real on the
// desktop through the freedesktop files: a shared-mime-info package for a type the
// system does not know, the program's .desktop entry, and the default application in
// mimeapps.list, followed by update-mime-database / update-desktop-database.
#pragma once

#include <string>
#include <vector>

namespace sq {

// Where the desktop files go: $XDG_DATA_HOME (~/.local/share), $XDG_CONFIG_HOME
// (~/.config), and the system's data folders ($XDG_DATA_DIRS) for known types.
struct TDesktopFolders {
  std::string DataHome;
  std::string ConfigHome;
  std::vector<std::string> DataDirs;
  static TDesktopFolders FromEnvironment();
};

// Whether the extension (with or without ".") is associated with the program of
// this title: its class in the classes root belongs to the title (blanks removed),
// and the desktop still opens its type with the program.
bool IsAssociated(const std::string& extension, const std::string& title);

// Associates the extension with the program; an empty title removes the program's
// association and leaves another program's alone.  programPath defaults to the
// running program.
void Associate(const std::string& extension, const std::string& title, const std::string& description, int iconIndex,
               const std::string& programPath = "");

// The MIME type the desktop uses for the extension: the system's own when it knows
// one, else the type the program declares for it.
std::string AssociationMimeType(const std::string& extension, const std::string& className);

// One check box of the association dialog: "Kestrovane animation (*.kst)" gives the
// format name "Kestrovane animation " and the extension ".kst".
struct TFormatEntry {
  std::string Caption;  // name + "(*" + extension + ")"
  std::string Extension;
};

// Walks a dialog filter ("Description (*.a,*.b)|*.a;*.b|...") for every "*." of each
// description.
std::vector<TFormatEntry> ParseFormatFilter(const std::string& filter);

// The program's project format and title, as the dialog and the command line use them.
inline constexpr const char* kProjectFormatFilter = "Kestrovane animation (*.kst)|*.kst|";
inline constexpr const char* kApplicationTitle = "Stereoquill";

}  // namespace sq
