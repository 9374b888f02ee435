// stereoquill-cli image IN OUT OPERATION [ARGS]: runs one of the editor's Image and
// Filter menu operations on an image file and saves the result.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/exception.h"
#include "cli/command.h"
#include "imaging/codecs/color_map_file.h"
#include "imaging/codecs/png_loader.h"
#include "imaging/gray.h"
#include "imaging/linear_bitmap.h"
#include "imaging/ops/adaptive_smooth.h"
#include "imaging/ops/auto_color.h"
#include "imaging/ops/filters.h"
#include "imaging/ops/resample_command.h"
#include "imaging/ops/rotate_command.h"
#include "imaging/ops/tone_map.h"
#include "numeric/expression.h"
#include "numeric/library.h"
#include "numeric/symbol_table.h"

namespace sq::cli {

namespace {

struct TImageOptions {
  std::string Input;
  std::string Output;
  std::string Operation;
  std::vector<std::string> Arguments;
  bool Quiet = false;
};

struct TOperation {
  int MinArguments;
  int MaxArguments;
  bool Filter;  // a Filters-menu operation: grey and 24-bit images only
  const char* Usage;
};

const std::map<std::string, TOperation>& Operations() {
  static const std::map<std::string, TOperation> operations{
      {"grayscale", {0, 0, false, "grayscale"}},
      {"to24bit", {0, 0, false, "to24bit"}},
      {"mirror", {0, 0, false, "mirror"}},
      {"invert", {0, 0, false, "invert"}},
      {"smooth", {0, 0, true, "smooth"}},
      {"sharpen", {0, 0, true, "sharpen"}},
      {"jpegfilter", {0, 0, true, "jpegfilter"}},
      {"deinterlace", {1, 1, true, "deinterlace even|odd"}},
      {"denoise", {2, 3, true, "denoise STRENGTH 3|5|7 [double]"}},
      {"resize", {2, 3, false, "resize W H [bilinear|lowpass|pixel|spline|sinc]"}},
      {"rotate", {1, 2, false, "rotate DEGREES [BACKGROUND_RRGGBB]"}},
      {"autocolor", {1, 1, true, "autocolor saturation|luminance|rgb"}},
      {"colormap", {1, 2, true, "colormap FILE.col [blue|green|red|all]"}},
  };
  return operations;
}

[[noreturn]] void UsageError(const std::string& message) { throw CLI::ValidationError(message); }

// One word out of a fixed list, or a usage error naming the operation's form.
int Choice(const std::string& word, std::initializer_list<const char*> words, const TOperation& operation) {
  int index = 0;
  for (const char* candidate : words) {
    if (word == candidate) return index;
    ++index;
  }
  UsageError("Unknown choice \"" + word + "\"; usage: image IN OUT " + operation.Usage);
}

// A number as the program's numeric fields take it: an arithmetic expression.
long double Number(const std::string& text, const std::string& what) {
  long double value = 0;
  try {
    value = EvaluateExpression(text);
  } catch (const Exception& error) {
    UsageError("Invalid " + what + " \"" + text + "\": " + error.what());
  }
  if (!std::isfinite(value)) UsageError("Invalid " + what + " \"" + text + "\": a finite number is expected");
  return value;
}

// Rounded to the nearest whole number, as the integer fields do.
int WholeNumber(const std::string& text, const std::string& what, int low, int high) {
  const long double value = std::nearbyint(Number(text, what));
  if (!(value >= low && value <= high))
    UsageError("Invalid " + what + " \"" + text + "\": a number from " + std::to_string(low) + " to " +
               std::to_string(high) + " is expected");
  return static_cast<int>(value);
}

// "RRGGBB" as a platform colour 0x00BBGGRR.
uint32_t ParseBackground(const std::string& text) {
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    UsageError("Invalid background color \"" + text + "\": six hexadecimal digits RRGGBB are expected");
  const uint32_t rgb = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | (rgb >> 16);
}

void Resize(TLinearBitmap& bitmap, const std::vector<std::string>& args, const TOperation& operation) {
  // w, h and r name the current size and ratio, as in the Resize dialog.
  TSymbolTable& symbols = StandardSymbols();
  TScopedSymbolValue w(symbols, "w", bitmap.Width), h(symbols, "h", bitmap.Height),
      r(symbols, "r", static_cast<long double>(bitmap.Width) / bitmap.Height);
  const int width = WholeNumber(args[0], "width", 1, 32767);
  const int height = WholeNumber(args[1], "height", 1, 32767);
  const int method =
      args.size() > 2 ? Choice(args[2], {"bilinear", "lowpass", "pixel", "spline", "sinc"}, operation) : rmBilinear;
  const std::vector<int> offered = ResizeMethods(bitmap);
  if (method != rmBilinear && std::find(offered.begin(), offered.end(), method) == offered.end())
    throw Exception("Only pixel resize can resample a 256-color image");
  ApplyResizeMethod(bitmap, width, height, method);
}

void RunOperation(TLinearBitmap& bitmap, const TImageOptions& options, const TOperation& operation) {
  const std::string& name = options.Operation;
  const std::vector<std::string>& args = options.Arguments;
  if (name == "grayscale") {
    GrayscaleCommand(bitmap);
  } else if (name == "to24bit") {
    To24BitCommand(bitmap);
  } else if (name == "mirror") {
    MirrorImage(bitmap);
  } else if (name == "invert") {
    InvertImage(bitmap);
  } else if (name == "smooth") {
    SmoothImage(bitmap);
  } else if (name == "sharpen") {
    SharpenImage(bitmap, false);
  } else if (name == "jpegfilter") {
    JPEGFilter(bitmap);
  } else if (name == "deinterlace") {
    Deinterlace(bitmap, Choice(args[0], {"even", "odd"}, operation) == 1, 0);
  } else if (name == "denoise") {
    long double strength = 0;
    try {
      strength = EvaluateExpression(args[0]);
    } catch (const Exception&) {
      strength = -1;
    }
    if (!(strength >= 1 && strength <= 100000) || strength != std::nearbyint(strength))
      UsageError("Invalid filter strength");
    const int size = 3 + 2 * Choice(args[1], {"3", "5", "7"}, operation);
    const bool doubleSize = args.size() > 2 && Choice(args[2], {"double"}, operation) == 0;
    AdaptiveSmooth(bitmap, static_cast<int>(strength), size, doubleSize);
  } else if (name == "resize") {
    Resize(bitmap, args, operation);
  } else if (name == "rotate") {
    const long double degrees = Number(args[0], "angle");
    const uint32_t background = args.size() > 1 ? ParseBackground(args[1]) : RotateStartColor(bitmap);
    RotateDegrees(bitmap, static_cast<double>(degrees), false, background);
  } else if (name == "autocolor") {
    static const TAutoColorMode modes[] = {acSaturation, acLuminance, acRGBSplit};
    const int mode = Choice(args[0], {"saturation", "luminance", "rgb"}, operation);
    AutoColorCorrect(bitmap, TStatisticsRect{}, bitmap.PixelFormat == pf24bit ? modes[mode] : acSaturation);
  } else if (name == "colormap") {
    int plane = kPlaneAll;
    if (args.size() > 1)
      plane = std::vector<int>{kPlaneBlue, kPlaneGreen, kPlaneRed,
                               kPlaneAll}[size_t(Choice(args[1], {"blue", "green", "red", "all"}, operation))];
    const ToneMap map = LoadColorMapFromFile(args[0]);
    ApplyToneMap(map, bitmap, bitmap.PixelFormat == pf24bit ? plane : kPlaneAll);
  }
}

// Checks the words and the numbers that do not depend on the image before anything
// is loaded.
void CheckArguments(const TImageOptions& options, const TOperation& operation) {
  const std::string& name = options.Operation;
  const std::vector<std::string>& args = options.Arguments;
  if (name == "deinterlace") Choice(args[0], {"even", "odd"}, operation);
  if (name == "denoise") {
    Choice(args[1], {"3", "5", "7"}, operation);
    if (args.size() > 2) Choice(args[2], {"double"}, operation);
  }
  if (name == "resize" && args.size() > 2)
    Choice(args[2], {"bilinear", "lowpass", "pixel", "spline", "sinc"}, operation);
  if (name == "rotate") {
    Number(args[0], "angle");
    if (args.size() > 1) ParseBackground(args[1]);
  }
  if (name == "autocolor") Choice(args[0], {"saturation", "luminance", "rgb"}, operation);
  if (name == "colormap" && args.size() > 1) Choice(args[1], {"blue", "green", "red", "all"}, operation);
}

void RunImage(const TImageOptions& options) {
  const auto found = Operations().find(options.Operation);
  if (found == Operations().end()) {
    std::string names;
    for (const auto& [name, operation] : Operations()) names += (names.empty() ? "" : ", ") + name;
    UsageError("Unknown image operation \"" + options.Operation + "\"; one of: " + names);
  }
  const TOperation& operation = found->second;
  const std::string& name = options.Operation;
  const int count = static_cast<int>(options.Arguments.size());
  if (count < operation.MinArguments || count > operation.MaxArguments)
    UsageError(std::string("Wrong number of arguments; usage: image IN OUT ") + operation.Usage);
  CheckArguments(options, operation);

  CheckInputName(options.Input, TFileKind::Image, "image works on images");
  CheckOutputName(options.Output, TFileKind::Image, "image writes images");

  TProgressBar progress(options.Quiet);
  progress.Stage("Loading");
  TLinearBitmap bitmap;
  LoadImageFile(bitmap, options.Input);
  // The editor works on 8-bit and 24-bit images only.
  if (bitmap.PixelFormat == pf16bit) bitmap.SetPixelFormat(pf8bit);
  if (bitmap.PixelFormat == pf32bit) bitmap.SetPixelFormat(pf24bit);
  if (!bitmap.Present || (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf24bit))
    throw ELinearBitmap("Unsupported pixel format");
  if (operation.Filter && bitmap.PixelFormat == pf8bit && !bitmap.IsGrayScale())
    throw Exception("The filters work on grey and 24-bit images; convert this 256-color image with to24bit first");

  progress.Stage(options.Operation);
  // A PNG's transparent value is written back on saving; conversions that keep the
  // pixels in place carry it over, or drop it where no value would mark the same
  // pixels.
  int32_t& transparent = PNGLoader().TransparentColor;
  const bool keepsPlaces = name == "grayscale" || name == "to24bit" || name == "invert";
  std::optional<TLinearBitmap> before;
  if (transparent >= 0 && keepsPlaces) before.emplace(bitmap);
  RunOperation(bitmap, options, operation);
  if (before) transparent = MapTransparentColor(*before, bitmap, transparent);
  if (!bitmap.Present) throw ELinearBitmap("The operation left no image");
  progress.Stage("Saving");
  bitmap.SaveToFile(options.Output);
}

const bool registered = RegisterCommand([](CLI::App& app) {
  auto options = std::make_shared<TImageOptions>();
  auto* command = app.add_subcommand("image",
                                     "Run an Image or Filter menu operation on an image file:\n"
                                     "  grayscale | to24bit | mirror | invert | smooth | sharpen | jpegfilter\n"
                                     "  deinterlace even|odd        denoise STRENGTH 3|5|7 [double]\n"
                                     "  resize W H [bilinear|lowpass|pixel|spline|sinc]\n"
                                     "      W and H are numbers or expressions of w and h (the current width\n"
                                     "      and height) and r (= w/h): \"w/2\" \"h/2\" halves the image,\n"
                                     "      \"800\" \"800/r\" keeps the proportions; \"lowpass\" sharpens when\n"
                                     "      it reduces\n"
                                     "  rotate DEGREES [RRGGBB]     (positive turns left)\n"
                                     "  autocolor saturation|luminance|rgb\n"
                                     "  colormap FILE.col [blue|green|red|all]");
  command->add_option("input", options->Input, "Image to read")->required();
  command->add_option("output", options->Output, "Image to write; an existing file is replaced only when complete")
      ->required();
  command->add_option("operation", options->Operation, "Operation to run")->required();
  command->add_option("arguments", options->Arguments, "The operation's arguments");
  command->add_flag("--quiet", options->Quiet, "No progress bar");
  AddMaxPixelsOption(*command);
  command->positionals_at_end(false);
  command->callback([options] { RunImage(*options); });
});

}  // namespace

}  // namespace sq::cli
