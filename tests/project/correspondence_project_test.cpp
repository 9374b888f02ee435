#include "project/correspondence_project.h"

#include <gtest/gtest.h>

using namespace sq;

TEST(CorrespondenceProject, EditsPoints) {
  CorrespondenceProject project;
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(project.AddPointPair(i * 10, i), i);
  project.MovePoint(5, 2, 7, 8);
  project.MovePoint(9, 1, 0, 0);  // beyond the list: ignored
  project.DeletePoint(3);
  EXPECT_EQ(project.PointCount, 4);
  EXPECT_EQ(project.Points[2], (PointPair{50, 5, 7, 8}));  // the last pair fills the gap
  project.DeletePoint(5);
  EXPECT_EQ(project.PointCount, 4);

  // The tolerance is a square, the lowest index wins, other sets find nothing.
  EXPECT_EQ(project.FindPoint(1, 23, 0, 3), 2);
  EXPECT_EQ(project.FindPoint(1, 24, 0, 3), 0);
  EXPECT_EQ(project.FindPoint(3, 10, 1, 100), 0);

  project.SwapPointSets();
  EXPECT_EQ(project.Points[2], (PointPair{7, 8, 50, 5}));
  project.ScalePointSet(1, 0.5, 2.5);  // 7 * 0.5 = 3.5 -> 4, 8 * 2.5 = 20
  EXPECT_EQ(project.Points[2], (PointPair{4, 20, 50, 5}));
  project.ScalePointSet(2, 1e12, -1e12);
  EXPECT_EQ(project.Points[2].x2, 2147483647);
  EXPECT_EQ(project.Points[2].y2, -2147483647 - 1);

  while (project.AddPointPair(0, 0) != 0) continue;
  EXPECT_EQ(project.PointCount, kMaxPointPairs);
}

TEST(CorrespondenceProject, CornersAndRangeChecks) {
  CorrespondenceProject project;
  project.AddPointPair(5, 5);
  project.MovePoint(1, 2, 639, 0);
  EXPECT_EQ(project.AddCornerPoints(640, 480), 3);
  EXPECT_EQ(project.Points[3], (PointPair{639, 479, 639, 479}));

  // Image 1 is 640 x 480, image 2 is 320 x 240; pair 2 leaves image 2 in set 1,
  // pair 3 in set 2.
  project.PointCount = 0;
  project.AddPointPair(5, 5);
  project.AddPointPair(600, 10);
  project.AddPointPair(10, 10);
  project.MovePoint(2, 2, 10, 10);
  project.MovePoint(3, 2, 400, 10);
  const TImageWindowInfo windows[] = {{2, 320, 240}, {1, 640, 480}};
  CorrespondenceProject each = project, first = project, second = project;
  EXPECT_EQ(each.FirstPointOutsideWindows(windows), 3);  // each window its own set
  each.RemovePointsOutsideWindows(windows);
  EXPECT_EQ(each.PointCount, 2);
  first.AnimationType = 2;  // both sets against image 1
  EXPECT_EQ(first.FirstPointOutsideWindows(windows), 0);
  second.AnimationType = 3;  // both sets against image 2
  EXPECT_EQ(second.FirstPointOutsideWindows(windows), 2);
  second.RemovePointsOutsideWindows(windows);
  EXPECT_EQ(second.PointCount, 1);
}

TEST(CorrespondenceProject, TriangulateKeepsTheMeshOnRefusal) {
  CorrespondenceProject project;
  project.AddPointPair(0, 0);
  project.AddPointPair(10, 0);
  project.AddPointPair(0, 10);
  EXPECT_EQ(project.Triangulate(), 0);
  EXPECT_EQ(project.TriangleCount, 1);
  project.AddPointPair(0, 10);  // a duplicate
  EXPECT_EQ(project.Triangulate(), 3);
  EXPECT_EQ(project.TriangleCount, 1);
  project.AddPointPair(50, 50);
  project.DeletePoint(4);
  project.MovePoint(4, 2, 5, 1);  // inside triangle (1, 2, 3) in image 2
  // Point 1 ends up in no triangle; the mesh built so far is kept all the same.
  EXPECT_EQ(project.Triangulate(), 1);
  EXPECT_EQ(project.TriangleCount, 1);
  EXPECT_EQ(project.Triangles[0], (MeshTriangle{2, 3, 4}));
  project.PointCount = 2;
  EXPECT_EQ(project.Triangulate(), 1);
  EXPECT_EQ(project.Triangles[0], (MeshTriangle{2, 3, 4}));
}
