// stereoquill-cli associate: the desktop program's file-type association for
// installers and administrators, through the same code as its dialog.
//   associate EXT...           make the program the opener of these extensions
//   associate --remove EXT...  undo that (another program's association stays)
//   associate --list [EXT...]  "EXT yes|no" per extension (default: every type the
//                              program opens)
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/format.h"
#include "cli/command.h"
#include "imaging/codecs/bitmap_loader.h"
#include "platform/file_association.h"
#include "platform/program_paths.h"

namespace sq::cli {

namespace {

struct TAssociateOptions {
  std::vector<std::string> Extensions;
  bool Remove = false;
  bool List = false;
  bool NoDescription = false;
  std::string Program;
};

std::string Normalize(const std::string& extension) {
  std::string ext = LowerCase(extension);
  if (ext.empty() || ext[0] != '.') ext.insert(0, ".");
  return ext;
}

// Every format the program opens: its projects and the image formats.
std::vector<TFormatEntry> KnownFormats() {
  std::vector<TFormatEntry> formats = ParseFormatFilter(kProjectFormatFilter);
  std::string images;
  for (const std::string& entry : SplitFilterEntries(BitmapLoaders().GetLoadFilter()))
    if (entry.find('(') != std::string::npos) images += entry + "|";
  for (TFormatEntry& format : ParseFormatFilter(images)) formats.push_back(std::move(format));
  return formats;
}

// The format's description, as the dialog takes it from its check box caption.
std::string DescriptionOf(const std::string& ext) {
  for (const TFormatEntry& format : KnownFormats())
    if (LowerCase(format.Extension) == ext) {
      const size_t cut = format.Caption.find(" (*");
      return format.Caption.substr(0, cut);
    }
  return UpperCase(ext.substr(1)) + " file";
}

std::string DesktopProgram(const std::string& given) {
  if (!given.empty()) return std::filesystem::absolute(given).string();
  return ProgramDirectory() + "/stereoquill";
}

void RunAssociate(const TAssociateOptions& options) {
  std::vector<std::string> extensions;
  for (const std::string& extension : options.Extensions) extensions.push_back(Normalize(extension));
  if (options.List) {
    if (extensions.empty())
      for (const TFormatEntry& format : KnownFormats()) {
        const std::string ext = Normalize(format.Extension);
        if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) extensions.push_back(ext);
      }
    for (const std::string& ext : extensions)
      std::cout << ext << (IsAssociated(ext, kApplicationTitle) ? " yes" : " no") << "\n";
    return;
  }
  if (extensions.empty()) throw Exception("Name at least one extension, such as .kst");
  for (const std::string& ext : extensions) {
    if (options.Remove) {
      if (IsAssociated(ext, kApplicationTitle)) Associate(ext, "", "", 0, DesktopProgram(options.Program));
    } else {
      Associate(ext, kApplicationTitle, options.NoDescription ? "" : DescriptionOf(ext), 0,
                DesktopProgram(options.Program));
    }
  }
}

const bool registered = RegisterCommand([](CLI::App& app) {
  auto options = std::make_shared<TAssociateOptions>();
  auto* command = app.add_subcommand(
      "associate", "Make the desktop program the opener of file types (.kst .png ...), undo it, or list it");
  command->add_option("extensions", options->Extensions, "Extensions such as .kst or png");
  auto* remove = command->add_flag("--remove", options->Remove, "Remove the program's association");
  command->add_flag("--list", options->List, "Print \"EXT yes|no\" for each extension")->excludes(remove);
  command->add_flag("--no-description", options->NoDescription,
                    "Do not store the format description (file views show \"XYZ File\")");
  command->add_option("--program", options->Program,
                      "The program that opens the files (default: stereoquill beside this tool)");
  command->callback([options] { RunAssociate(*options); });
});

}  // namespace

}  // namespace sq::cli
