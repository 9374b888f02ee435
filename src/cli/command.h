// Subcommands of stereoquill-cli register themselves here from their own files, so
// that adding a command never touches another command's code.
#pragma once

#include <CLI/CLI.hpp>

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace sq {
class TLinearBitmap;
class TSurfaceColorModel;
struct TLoadReport;
}  // namespace sq

namespace sq::cli {

// Called once with the application; adds a subcommand and its callback.
using CommandSetup = std::function<void(CLI::App& app)>;

bool RegisterCommand(CommandSetup setup);

// Exit code a command's callback wants the process to end with (0 by default).
void SetExitCode(int code);

// Prints "stereoquill-cli: " + message on stderr, control bytes shown escaped.
void PrintError(const std::string& message);

// Prints "stereoquill-cli: warning: " + message on stderr.
void PrintWarning(const std::string& message);

// Control bytes as \xNN, so a message quoting a damaged file cannot move the
// terminal's cursor or ring its bell.
std::string EscapeControlBytes(const std::string& text);

// A number option's validator: refuses "nan" and "inf", which CLI11's ranges let
// through.
CLI::Validator FiniteNumber();

// Adds --max-pixels N to a command that reads images; the value goes straight to
// the readers' pixel limit.
void AddMaxPixelsOption(CLI::App& command);

// Loads an image and prints what the reader noticed in it ("FILE: JPEG data ends
// early; the rest is grey") as warnings.  Errors name the file.
void LoadImageFile(TLinearBitmap& bitmap, const std::string& path, TLoadReport* report = nullptr);

// "FILE: line N: message" for an error met while reading a model file (the line
// only for text formats).  Call TTextStream::ResetFailedLine before the load.
std::string ModelErrorText(const std::string& path, const std::exception& error);

// Loads a model file (M3D or PLY); errors name the file and, in text, the line.
std::unique_ptr<TSurfaceColorModel> LoadModelFile(const std::string& path);

enum class TFileKind { Image, Model };

// Checks an input file's extension for a command before any work: no extension, a
// model where an image is expected or the reverse, VRML (which is only written).
void CheckInputName(const std::string& path, TFileKind kind, const std::string& command);
// The same for an output file, plus its folder: it must exist and be writable.
void CheckOutputName(const std::string& path, TFileKind kind, const std::string& command);
// The folder check alone (for outputs whose extension the command chooses).
void CheckOutputFolder(const std::string& path);

// Removes the temporary files of saves still running when SIGINT or SIGTERM
// arrives, then lets the signal end the process as usual.
void InstallSignalCleanup();

// A progress bar on stderr fed by the process-wide progress notification, removed
// when the scope ends.  Silent when quiet is set.
class TProgressBar {
 public:
  explicit TProgressBar(bool quiet);
  ~TProgressBar();
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;
  // Names the stage shown before the bar.
  void Stage(const std::string& name);

 private:
  void Draw(int percent);
  bool enabled_;
  bool interactive_;
  bool drawn_ = false;
  int last_ = -1;
  std::string stage_;
};

}  // namespace sq::cli
