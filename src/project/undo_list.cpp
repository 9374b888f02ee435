#include "project/undo_list.h"

#include "base/exception.h"

namespace sq {

TUndoItem* TUndoList::NewItem() {
  items_.resize(static_cast<size_t>(undoCount_));
  redoCount_ = 0;
  if (!items_.empty() && static_cast<int>(items_.size()) >= capacity_) {
    items_.erase(items_.begin());
    --undoCount_;
  }
  if (capacity_ < 1) return nullptr;
  ++undoCount_;
  items_.push_back(std::make_unique<TUndoItem>());
  return items_.back().get();
}

void TUndoList::Store(TUndoItem* item, const std::string& caption, const TLinearBitmap& image) {
  if (!item) return;
  item->Caption = caption;
  if (const size_t amp = item->Caption.find('&'); amp != std::string::npos) item->Caption.erase(amp, 1);
  item->Image.Assign(image);
}

void TUndoList::Undo(TLinearBitmap& image) {
  if (undoCount_ == 0) throw Exception("Can't undo");
  if (redoCount_ == 0) {
    // The first step back keeps the image as it is now, for Redo to return to.
    if (static_cast<int>(items_.size()) == undoCount_) items_.push_back(std::make_unique<TUndoItem>());
    TUndoItem& current = *items_[static_cast<size_t>(undoCount_)];
    current.Caption.clear();
    current.Image.Assign(image);
  }
  --undoCount_;
  ++redoCount_;
  image.Assign(items_[static_cast<size_t>(undoCount_)]->Image);
}

void TUndoList::Redo(TLinearBitmap& image) {
  if (redoCount_ == 0) throw Exception("Can't redo");
  ++undoCount_;
  --redoCount_;
  image.Assign(items_[static_cast<size_t>(undoCount_)]->Image);
}

void TUndoList::DiscardLast() {
  if (undoCount_ < 1 || redoCount_ != 0) return;
  --undoCount_;
  items_.erase(items_.begin() + undoCount_);
}

void TUndoList::Clear() {
  items_.clear();
  undoCount_ = redoCount_ = 0;
}

std::string TUndoList::UndoCaption() const {
  return undoCount_ < 1 ? std::string() : items_[static_cast<size_t>(undoCount_ - 1)]->Caption;
}

std::string TUndoList::RedoCaption() const {
  return redoCount_ < 1 ? std::string() : items_[static_cast<size_t>(undoCount_)]->Caption;
}

}  // namespace sq
