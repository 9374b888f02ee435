#include "project/undo_list.h"

#include <gtest/gtest.h>

#include "base/exception.h"

using namespace sq;

namespace {

// A 1 x 1 image whose only pixel tells the images apart.
TLinearBitmap Image(uint8_t value) {
  TLinearBitmap image(1, 1, pf8bit);
  image.Map[0] = value;
  return image;
}

void Snapshot(TUndoList& list, const std::string& caption, const TLinearBitmap& image) {
  list.Store(list.NewItem(), caption, image);
}

}  // namespace

TEST(UndoList, KeepsFourSnapshots) {
  TUndoList list;
  TLinearBitmap image = Image(0);
  for (uint8_t v = 1; v <= 5; ++v) {
    Snapshot(list, "Step " + std::to_string(v), image);
    image = Image(v);
  }
  EXPECT_EQ(list.Count(), 4);
  for (int v = 4; v >= 1; --v) {
    list.Undo(image);
    EXPECT_EQ(image.Map[0], v);
  }
  EXPECT_THROW(list.Undo(image), Exception);  // the oldest is gone
}

TEST(UndoList, WalksBackAndForth) {
  TUndoList list;
  TLinearBitmap image = Image(1);
  EXPECT_THROW(list.Redo(image), Exception);
  Snapshot(list, "&Smooth", image);
  image = Image(2);
  Snapshot(list, "Save &as...", image);
  image = Image(3);
  EXPECT_EQ(list.UndoCaption(), "Save as...");
  list.Undo(image);  // keeps image 3 as a third item
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(image.Map[0], 2);
  EXPECT_EQ(list.UndoCaption(), "Smooth");
  list.Undo(image);
  list.Redo(image);
  list.Redo(image);
  EXPECT_EQ(image.Map[0], 3);
  EXPECT_THROW(list.Redo(image), Exception);
  // Undoing again after redoing everything reuses the kept item.
  image = Image(4);
  list.Undo(image);
  list.Redo(image);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(image.Map[0], 4);
}

TEST(UndoList, DiscardLastUndoesACancelledSnapshot) {
  TUndoList list;
  TLinearBitmap image = Image(1);
  Snapshot(list, "&Rotate", image);
  Snapshot(list, "&Resize", image);
  list.DiscardLast();
  EXPECT_EQ(list.UndoCaption(), "Rotate");
  // With a redo pending, the snapshot has already dropped the redo branch, and
  // discarding it cannot bring that branch back.
  list.Undo(image);
  Snapshot(list, "&Resize", image);
  list.DiscardLast();
  EXPECT_EQ(list.RedoCount() + list.UndoCount() + list.Count(), 0);
  EXPECT_EQ(TUndoList(0).NewItem(), nullptr);
}
