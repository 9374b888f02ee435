// stereoquill-cli convert IN OUT: loads an image through the format registry and
// saves it through it, so every readable format converts into every writable one.
#include <memory>
#include <string>

#include "base/exception.h"
#include "base/format.h"
#include "cli/command.h"
#include "imaging/codecs/jpeg_loader.h"
#include "imaging/linear_bitmap.h"
#include "model3d/model_files.h"

namespace sq::cli {

namespace {

struct TConvertOptions {
  std::string Input;
  std::string Output;
  int Quality = 0;
  int64_t MaxSize = 0;
  bool Quiet = false;
};

bool IsModelFile(const std::string& fileName) {
  const std::string extension = UpperCase(ExtractFileExtNoDot(fileName));
  return extension == "M3D" || extension == "PLY" || extension == "WRL";
}

// Model files convert between the model formats (the output may also be VRML).
void ConvertModel(const TConvertOptions& options) {
  TProgressBar progress(options.Quiet);
  progress.Stage("Loading");
  std::unique_ptr<TSurfaceColorModel> model = LoadSurfaceModel(options.Input);
  progress.Stage("Saving");
  model->SetFileFormat(options.Output);
  model->SaveToFile(options.Output);
}

void RunConvert(const TConvertOptions& options) {
  if (IsModelFile(options.Input)) {
    if (!IsModelFile(options.Output))
      throw EUnsupportedFileFormat("Unsupported file format: " + UpperCase(ExtractFileExtNoDot(options.Output)));
    ConvertModel(options);
    return;
  }
  TLinearBitmap bitmap;
  TProgressBar progress(options.Quiet);
  progress.Stage("Loading");
  bitmap.LoadFromFile(options.Input);
  progress.Stage("Saving");
  // The JPEG options go to this save alone; other formats have none.
  if (&BitmapLoaders().FindSaver(UpperCase(ExtractFileExtNoDot(options.Output))) == &JPEGLoader())
    SaveJPEGFile(bitmap, options.Output, options.Quality, options.MaxSize);
  else
    bitmap.SaveToFile(options.Output);
}

const bool registered = RegisterCommand([](CLI::App& app) {
  auto options = std::make_shared<TConvertOptions>();
  auto* command = app.add_subcommand("convert",
                                     "Convert an image (BMP, PCX, PNG, JPEG, GIF) or a 3D model (M3D, PLY; VRML out) "
                                     "between formats, chosen by the file extensions");
  command->add_option("input", options->Input, "Image to read")->required();
  command->add_option("output", options->Output, "Image to write; an existing file is replaced only when complete")
      ->required();
  command->add_option("--quality", options->Quality, "JPEG quality 1..100 (default: the library's, 75)")
      ->check(CLI::Range(1, 100));
  command
      ->add_option("--max-size", options->MaxSize,
                   "JPEG size target in bytes: the quality is lowered until the file fits")
      ->check(CLI::Range(int64_t(0), int64_t(1) << 40));
  command->add_flag("--quiet", options->Quiet, "No progress bar");
  command->callback([options] { RunConvert(*options); });
});

}  // namespace

}  // namespace sq::cli
