// The image undo history: full copies of the active image taken before each image
// command, a few deep, walked back and forth by Undo and Redo.  Items below the undo
// count can be undone; the redo branch sits above it until the next snapshot drops it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "imaging/linear_bitmap.h"

namespace sq {

struct TUndoItem {
  std::string Caption;  // the command's menu text without its first "&"
  TLinearBitmap Image;
};

class TUndoList {
 public:
  explicit TUndoList(int capacity = 4) : capacity_(capacity) {}

  // Drops the redo branch and, when full, the oldest item; returns the new empty
  // item, or nullptr when the capacity is below 1.
  TUndoItem* NewItem();
  // Fills an item from NewItem; a null item is ignored.
  void Store(TUndoItem* item, const std::string& caption, const TLinearBitmap& image);
  // Raises "Can't undo" / "Can't redo" when there is nothing to walk to.  The first
  // Undo after an edit keeps the current image so that Redo can come back to it.
  void Undo(TLinearBitmap& image);
  void Redo(TLinearBitmap& image);
  // Forgets the newest snapshot of a command that was cancelled after taking it.
  void DiscardLast();
  void Clear();

  std::string UndoCaption() const;
  std::string RedoCaption() const;
  int UndoCount() const { return undoCount_; }
  int RedoCount() const { return redoCount_; }
  int Count() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return capacity_; }

 private:
  std::vector<std::unique_ptr<TUndoItem>> items_;
  int undoCount_ = 0;
  int redoCount_ = 0;
  int capacity_;
};

}  // namespace sq
