// Checks and messages that every subcommand shares: file names and their kinds,
// output folders, number options, image loading with its warnings, signals.
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "base/exception.h"
#include "base/format.h"
#include "cli/command.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/file_stream.h"
#include "io/text_stream.h"
#include "model3d/model_files.h"
#include "model3d/surface_color_model.h"

namespace sq::cli {

namespace {

const char* const kImageExtensions = ".png, .jpg, .bmp, .pcx or .gif";
const char* const kModelExtensions = ".m3d, .ply or .wrl";

// The extension of the name's last part, upper-cased ("" when there is none).
std::string Extension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return UpperCase(ExtractFileExtNoDot(slash == std::string::npos ? path : path.substr(slash + 1)));
}

bool IsModelExtension(const std::string& extension) {
  return extension == "M3D" || extension == "PLY" || extension == "WRL";
}

bool IsImageExtension(const std::string& extension, bool writing) {
  const TBitmapLoaders& loaders = BitmapLoaders();
  for (int i = 0; i < loaders.Count(); ++i)
    if (writing ? loaders.Items(i).CanSave(extension) : loaders.Items(i).CanLoad(extension)) return true;
  return false;
}

void CheckName(const std::string& path, TFileKind kind, const std::string& command, bool writing) {
  const std::string extension = Extension(path);
  const char* wanted = kind == TFileKind::Image ? kImageExtensions : kModelExtensions;
  if (kind == TFileKind::Model && !writing) wanted = ".m3d or .ply";
  if (extension.empty()) throw Exception(path + ": no file extension; use " + wanted);
  if (kind == TFileKind::Image && IsModelExtension(extension)) throw Exception(path + " is a model format; " + command);
  if (kind == TFileKind::Model && !IsModelExtension(extension) && IsImageExtension(extension, writing))
    throw Exception(path + " is an image format; " + command);
  if (kind == TFileKind::Model && extension == "WRL" && !writing)
    throw Exception(path + ": VRML files can be written, not read");
  if (kind == TFileKind::Model && !IsModelExtension(extension))
    throw Exception(path + ": unknown model file extension; use " + wanted);
  if (kind == TFileKind::Image && !IsImageExtension(extension, writing))
    throw Exception(path + ": " + (writing ? "images cannot be written as " : "images cannot be read from ") + "." +
                    LowerCase(extension) + " files; use " + wanted);
}

extern "C" void CleanUpAndStop(int signalNumber) {
  RemovePendingSaveFiles();
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

}  // namespace

std::string EscapeControlBytes(const std::string& text) {
  std::string result;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      result += escaped;
    } else {
      result += c;
    }
  }
  return result;
}

void PrintWarning(const std::string& message) { PrintError("warning: " + message); }

CLI::Validator FiniteNumber() {
  return CLI::Validator(
      [](const std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end != text.c_str() && *end == 0 && !std::isfinite(value))
          return "a finite number is expected, not " + text;
        return {};
      },
      "", "FINITE");
}

void AddMaxPixelsOption(CLI::App& command) {
  command
      .add_option_function<int64_t>(
          "--max-pixels", [](const int64_t& pixels) { SetMaxImagePixels(pixels); },
          "Refuse images with more pixels than this (default " + std::to_string(kDefaultMaxImagePixels) + ")")
      ->check(CLI::Range(int64_t(1), int64_t(1) << 40));
}

void LoadImageFile(TLinearBitmap& bitmap, const std::string& path, TLoadReport* report) {
  TLoadReport local;
  TLoadReport& used = report ? *report : local;
  try {
    bitmap.LoadFromFile(path, &used);
  } catch (const Exception& e) {
    throw Exception(path + ": " + e.what());
  }
  for (const std::string& warning : used.Warnings) PrintWarning(path + ": " + warning);
}

std::string ModelErrorText(const std::string& path, const std::exception& error) {
  const int line = TTextStream::FailedLine();
  return path + ": " + (line > 0 ? "line " + std::to_string(line) + ": " : std::string()) + error.what();
}

std::unique_ptr<TSurfaceColorModel> LoadModelFile(const std::string& path) {
  TTextStream::ResetFailedLine();
  try {
    return LoadSurfaceModel(path);
  } catch (const Exception& e) {
    throw Exception(ModelErrorText(path, e));
  }
}

void CheckInputName(const std::string& path, TFileKind kind, const std::string& command) {
  CheckName(path, kind, command, false);
}

void CheckOutputName(const std::string& path, TFileKind kind, const std::string& command) {
  CheckName(path, kind, command, true);
  CheckOutputFolder(path);
}

void CheckOutputFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  if (::access(folder.c_str(), F_OK) != 0) throw Exception(path + ": folder " + folder + " does not exist");
  if (::access(folder.c_str(), W_OK | X_OK) != 0) throw Exception(path + ": folder " + folder + " is not writable");
}

void InstallSignalCleanup() {
  struct sigaction action {};
  action.sa_handler = CleanUpAndStop;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace sq::cli
