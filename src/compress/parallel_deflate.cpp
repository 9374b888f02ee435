#include "compress/parallel_deflate.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "base/parallel.h"
#include "compress/deflate_stream.h"
#include "compress/exact_parse.h"

namespace sq {

namespace {

// A piece's parse: started at Begin, it goes on until it reaches Stop or beyond
// (End), as the true parse entering the piece anywhere before Stop may need it.
struct TPiece {
  size_t Input = 0;
  int64_t Begin = 0, Stop = 0, End = 0;
  std::vector<uint32_t> Symbols;
  std::atomic<bool> Done{false};
};

struct TStreamState {
  std::unique_ptr<TDeflateStream> Deflate;
  size_t NextPiece = 0;  // the first piece of this input not yet written
  size_t PieceEnd = 0;   // one past its last piece
  int64_t Position = 0;  // where the true parse stands
};

class TParallelDeflate {
 public:
  TParallelDeflate(std::span<const std::span<const uint8_t>> inputs, std::span<TBaseStream* const> outputs,
                   int64_t pieceSize)
      : inputs_(inputs), streams_(inputs.size()) {
    pieceSize = std::clamp<int64_t>(pieceSize, 1024, kExactParseSpan / 2);
    size_t count = 0;
    for (const auto& input : inputs) count += PieceCount(static_cast<int64_t>(input.size()), pieceSize);
    pieces_ = std::vector<TPiece>(count);
    size_t at = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
      const auto size = static_cast<int64_t>(inputs[i].size());
      const size_t n = PieceCount(size, pieceSize);
      streams_[i].Deflate = std::make_unique<TDeflateStream>(*outputs[i], TDeflateStream::dirWrite);
      streams_[i].NextPiece = at;
      streams_[i].PieceEnd = at + n;
      for (size_t k = 0; k < n; ++k, ++at) {
        TPiece& piece = pieces_[at];
        piece.Input = i;
        piece.Begin = int64_t(k) * pieceSize;
        piece.Stop = k + 1 == n ? size : piece.Begin + pieceSize;
      }
    }
  }

  void Run() {
    const int workers = RowWorkerCount(static_cast<int>(pieces_.size()));
    std::vector<TExactParser> parsers(static_cast<size_t>(workers));
    ForEachRow(
        static_cast<int>(pieces_.size()), workers,
        [&](int row, int worker) {
          Parse(pieces_[static_cast<size_t>(row)], parsers[static_cast<size_t>(worker)]);
          Pump();
        },
        false);
    std::lock_guard<std::mutex> lock(emitLock_);
    WriteReady();
    for (TStreamState& stream : streams_) stream.Deflate->Close();
  }

 private:
  // The last piece takes up a short rest, so that no piece is much shorter than the
  // others (and none shorter than a match).
  static size_t PieceCount(int64_t size, int64_t pieceSize) {
    return static_cast<size_t>(std::max<int64_t>(1, size / pieceSize));
  }

  void Parse(TPiece& piece, TExactParser& parser) {
    const std::span<const uint8_t> data = inputs_[piece.Input];
    if (piece.Begin < piece.Stop) {
      parser.Start(data.data(), static_cast<int64_t>(data.size()), piece.Begin, piece.Stop);
      // Filled here and moved in when whole: the pieces lie side by side, and two
      // threads growing vectors whose ends share a cache line slow each other down.
      std::vector<uint32_t> symbols;
      symbols.reserve(static_cast<size_t>(piece.Stop - piece.Begin) / 2);
      while (parser.Position() < piece.Stop) symbols.push_back(parser.Next());
      piece.Symbols = std::move(symbols);
      piece.End = parser.Position();
    } else {
      piece.End = piece.Begin;
    }
    piece.Done.store(true, std::memory_order_release);
  }

  // Writes what is ready; one thread at a time does so, and a thread that finds it
  // busy leaves its piece to that thread.
  void Pump() {
    pending_.store(true);
    while (pending_.load()) {
      std::unique_lock<std::mutex> lock(emitLock_, std::try_to_lock);
      if (!lock.owns_lock()) return;
      pending_.store(false);
      WriteReady();
    }
  }

  void WriteReady() {
    for (size_t i = 0; i < streams_.size(); ++i) {
      TStreamState& stream = streams_[i];
      while (stream.NextPiece < stream.PieceEnd && pieces_[stream.NextPiece].Done.load(std::memory_order_acquire)) {
        TPiece& piece = pieces_[stream.NextPiece++];
        WritePiece(stream, piece);
        std::vector<uint32_t>().swap(piece.Symbols);
      }
    }
  }

  // Joins the piece's parse to the true parse, which stands at stream.Position
  // (never before the piece's start): from the first symbol start the two share on,
  // the piece's symbols are the true ones.  Until they meet, the true parse goes on
  // by itself.
  void WritePiece(TStreamState& stream, const TPiece& piece) {
    const std::vector<uint32_t>& symbols = piece.Symbols;
    int64_t& position = stream.Position;
    if (position >= piece.Stop) return;  // a match of the piece before ran across this one
    int64_t at = piece.Begin;
    size_t next = 0;
    auto catchUp = [&] {
      while (next < symbols.size() && at < position) at += SymbolLength(symbols[next++]);
    };
    catchUp();
    if (at != position) {
      const std::span<const uint8_t> data = inputs_[piece.Input];
      // The two parses mostly meet within a few symbols: the table covers a short
      // stretch first and a longer one each time that is not enough.
      int64_t span = 4096, covered = 0;
      redo_.clear();
      while (at != position && position < piece.Stop) {
        if (position >= covered) {
          covered = std::min(piece.Stop, position + span);
          resync_.Start(data.data(), static_cast<int64_t>(data.size()), position, covered);
          span *= 4;
        }
        redo_.push_back(resync_.Next());
        position = resync_.Position();
        catchUp();
      }
      stream.Deflate->WriteParsed(redo_);
      if (at != position) return;  // the true parse left the piece on its own
    }
    stream.Deflate->WriteParsed(std::span<const uint32_t>(symbols).subspan(next));
    position = piece.End;
  }

  std::span<const std::span<const uint8_t>> inputs_;
  std::vector<TStreamState> streams_;
  std::vector<TPiece> pieces_;
  std::mutex emitLock_;
  std::atomic<bool> pending_{false};
  TExactParser resync_;
  std::vector<uint32_t> redo_;
};

}  // namespace

void DeflateBuffers(std::span<const std::span<const uint8_t>> inputs, std::span<TBaseStream* const> outputs,
                    int64_t pieceSize) {
  bool whole = true;
  for (const auto& input : inputs) whole = whole && static_cast<int64_t>(input.size()) < kExactParseLimit;
  if (!whole) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      TDeflateStream deflate(*outputs[i], TDeflateStream::dirWrite);
      if (!inputs[i].empty()) deflate.Write(inputs[i].data(), inputs[i].size());
      deflate.Close();
    }
    return;
  }
  TParallelDeflate(inputs, outputs, pieceSize).Run();
}

}  // namespace sq
