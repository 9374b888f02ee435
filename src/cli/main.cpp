// stereoquill-cli: the command-line front end over the same core as the desktop program.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/large_pages.h"
#include "base/progress.h"
#include "cli/command.h"
#include "imaging/codecs/image_dll_loader.h"
#include "platform/program_paths.h"
#include "platform/program_setup.h"
#include "platform/registry.h"

namespace sq::cli {

namespace {
std::vector<CommandSetup>& Commands() {
  static std::vector<CommandSetup> commands;
  return commands;
}
int gExitCode = 0;
}  // namespace

bool RegisterCommand(CommandSetup setup) {
  Commands().push_back(std::move(setup));
  return true;
}

void SetExitCode(int code) { gExitCode = code; }

void PrintError(const std::string& message) {
  std::cerr << "stereoquill-cli: " << EscapeControlBytes(message) << std::endl;
}

TProgressBar::TProgressBar(bool quiet) : enabled_(!quiet), interactive_(isatty(fileno(stderr)) != 0) {
  if (enabled_) SetProgressHandler([this](int percent) { Draw(percent); });
}

TProgressBar::~TProgressBar() {
  if (!enabled_) return;
  SetProgressHandler(nullptr);
  if (drawn_) std::fputs("\r\033[K", stderr);
}

void TProgressBar::Stage(const std::string& name) {
  stage_ = name;
  last_ = -1;
  if (!enabled_) return;
  if (!interactive_) {
    // A log file gets one line per stage instead of hundreds of redrawn bars.
    std::fprintf(stderr, "%s...\n", name.c_str());
    return;
  }
  Draw(0);
}

void TProgressBar::Draw(int percent) {
  if (!interactive_) return;
  percent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
  if (percent == last_) return;
  last_ = percent;
  const int filled = percent * 30 / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(30, '.');
  std::fprintf(stderr, "\r%-22s [%s] %3d%%", stage_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
  drawn_ = true;
}

// The desktop program's plug-in folder: the "HalvorixPath" setting when the user set
// one, the installed plug-in folder otherwise.  Only read: the tool writes no settings.
std::string PluginFolder() {
  try {
    const auto value =
        sq::RegistryHive(sq::TRegistryHiveKind::CurrentUser).Value(sq::kSiblingProgramKey, "HalvorixPath");
    if (value && std::holds_alternative<std::string>(*value) && !std::get<std::string>(*value).empty())
      return std::get<std::string>(*value);
  } catch (const std::exception&) {
    // An unreadable settings file leaves the default.
  }
  return sq::DefaultPluginDirectory();
}

}  // namespace sq::cli

int main(int argc, char** argv) {
  using namespace sq::cli;
  sq::ReuseFreedMemory();
  CLI::App app{"Stereoquill: turn two photographs into a 3D model", "stereoquill-cli"};
  app.set_version_flag("--version", std::string("stereoquill-cli ") + SQ_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);
  auto* help = app.add_subcommand("help", "Show the commands and their options; help COMMAND shows one command's");
  std::string helpTopic;
  help->add_option("COMMAND", helpTopic, "Command to describe");
  // The same image plug-ins as the desktop program, from the same folder.
  sq::LoadPlugins(PluginFolder());
  for (auto& setup : Commands()) setup(app);
  // Rendered before parsing: afterwards CLI11 would describe the parsed subcommand.
  const std::string usage = app.help();
  std::set<std::string> commandNames;
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
    commandNames.insert(command->get_name());
  help->callback([&] {
    if (helpTopic.empty() || helpTopic == "help") {
      std::cout << usage;
      return;
    }
    throw CLI::ValidationError("unknown command '" + helpTopic + "'");
  });
  // A word where the command belongs that is no command: say so plainly.
  if (argc > 1 && argv[1][0] != '-' && !commandNames.count(argv[1])) {
    PrintError(std::string("unknown command '") + argv[1] + "'");
    std::cerr << "Run 'stereoquill-cli help' for the commands and their options." << std::endl;
    return 2;
  }
  // help COMMAND is COMMAND --help, word for word.
  std::vector<char*> arguments(argv, argv + argc);
  static char helpFlag[] = "--help";
  if (argc == 3 && std::string(argv[1]) == "help" && commandNames.count(argv[2]) && std::string(argv[2]) != "help")
    arguments = {argv[0], argv[2], helpFlag};
  InstallSignalCleanup();

  try {
    app.parse(static_cast<int>(arguments.size()), arguments.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    PrintError(e.what());
    std::cerr << "Run 'stereoquill-cli help' for the commands and their options." << std::endl;
    return 2;
  } catch (const sq::Exception& e) {
    PrintError(e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    PrintError("Out of memory");
    return 1;
  } catch (const std::exception& e) {
    PrintError(e.what());
    return 1;
  }
  return gExitCode;
}
