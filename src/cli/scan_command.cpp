// stereoquill-cli scan OUTPUT: acquires pages from the default scanner source through
// the same source manager as the desktop program's "Scan", without its dialog.  The
// first page goes to OUTPUT, further pages of a feeder batch to OUTPUT-2, OUTPUT-3, ...
#include <filesystem>
#include <iostream>
#include <memory>
#include <span>
#include <string>

#include "base/exception.h"
#include "cli/command.h"
#include "imaging/linear_bitmap.h"
#include "platform/twain.h"

namespace sq::cli {

namespace {

struct TScanOptions {
  std::string Output;
};

std::string PageName(const std::string& output, int page) {
  if (page == 1) return output;
  const std::filesystem::path path(output);
  return (path.parent_path() / (path.stem().string() + "-" + std::to_string(page) + path.extension().string()))
      .string();
}

void RunScan(const TScanOptions& options) {
  int pages = 0;
  std::string failure;
  TwainAcquisition().AcquireWithCallback(nullptr, nullptr, [&](twain::TW_HANDLE image) {
    TLinearBitmap page;
    try {
      page.GetFromDIB(std::span<const uint8_t>(twain::GlobalBlockData(image), twain::GlobalBlockSize(image)));
      twain::GlobalFreeBlock(image);
      const std::string name = PageName(options.Output, pages + 1);
      page.SaveToFile(name);
      ++pages;
      std::cout << name << " " << page.Width << " x " << page.Height << "\n";
    } catch (const Exception& e) {
      twain::GlobalFreeBlock(image);
      if (failure.empty()) failure = e.what();
    }
  });
  if (!failure.empty()) throw Exception(failure);
  if (pages == 0) throw Exception("No page was scanned");
}

const bool registered = RegisterCommand([](CLI::App& app) {
  auto options = std::make_shared<TScanOptions>();
  auto* command = app.add_subcommand("scan", "Scan pages from the default scanner source into image files");
  command->add_option("output", options->Output, "Image file for the first page (further pages: NAME-2, ...)")
      ->required();
  command->callback([options] { RunScan(*options); });
});

}  // namespace

}  // namespace sq::cli
