// ASCII PLY: x, y, z vertices and triangular faces.  The reader understands the
// subset this program writes (and what common tools write for such meshes); it
// refuses counts it cannot hold and faces that name vertices outside the file.
#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>

#include <fmt/format.h>

#include "base/exception.h"
#include "base/format.h"
#include "io/text_stream.h"
#include "model3d/surface_color_model.h"

namespace sq {

namespace {

constexpr uint32_t kDefaultColor = 0x00FF00;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The next blank-separated word of text, removed from it.
std::string_view NextWord(std::string_view& text) {
  text = Trim(text);
  size_t end = 0;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  return word;
}

// Malformed numbers read as 0: vertex coordinates are taken as they come.
float ParseCoordinate(std::string_view word) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return 0;
  return static_cast<float>(value);
}

int64_t ParseInteger(std::string_view word) {
  std::string_view digits = word;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(word)));
  return value;
}

// An element count from the header: the rest of the line after its keyword.
int ParseCount(std::string_view text) {
  const int64_t count = ParseInteger(Trim(text));
  if (count <= 0 || count > std::numeric_limits<int32_t>::max()) throw EBadFormat("Unsupported file format");
  return static_cast<int>(count);
}

}  // namespace

void TSurfaceColorModel::SavePLY(TBaseStream& stream) {
  TTextStream text(stream);
  text.LineBreak = "\n";
  text.WriteText(fmt::format(
      "ply\nformat ascii 1.0\nelement vertex {}\nproperty float32 x\nproperty float32 y\nproperty float32 z\n"
      "element face {}\nproperty list uint8 int32 vertex_indices\nend_header\n",
      VertexCount, TriangleCount));
  std::string line;
  for (const T3DPoint& v : Vertices) {
    line.clear();
    // + 0.0f writes a negative zero as "0.00000000".
    fmt::format_to(std::back_inserter(line), "{:.8f} {:.8f} {:.8f}", v.X + 0.0f, v.Y + 0.0f, v.Z + 0.0f);
    text.WriteLine(line);
  }
  for (const T3DTriangle& t : Triangles) {
    line.clear();
    fmt::format_to(std::back_inserter(line), "3 {} {} {}", t[0], t[1], t[2]);
    text.WriteLine(line);
  }
  text.Flush();
}

void TSurfaceColorModel::LoadPLY(TBaseStream& stream) {
  TTextStream text(stream);
  if (LowerCase(text.ReadLine()) != "ply") throw EBadFormat("Unsupported file format");
  SetTriangleCount(0);
  SetVertexCount(0);

  int vertexCount = 0, triangleCount = 0;
  for (;;) {
    const std::string line = LowerCase(Trim(text.ReadLine()));
    if (line == "end_header") break;
    const std::string_view view(line);
    if (view.starts_with("element face "))
      triangleCount = ParseCount(view.substr(13));
    else if (view.starts_with("element vertex "))
      vertexCount = ParseCount(view.substr(15));
  }
  if (vertexCount == 0 || triangleCount == 0) throw EBadFormat("Unsupported file format");

  // The arrays grow with the lines actually read, so a header that promises more
  // than the file holds ends in the read error rather than a huge allocation.
  std::vector<T3DPoint> vertices;
  vertices.reserve(std::min(vertexCount, 1 << 16));
  for (int i = 0; i < vertexCount; ++i) {
    const std::string line = text.ReadLine();
    std::string_view rest(line);
    const float x = ParseCoordinate(NextWord(rest));
    const float y = ParseCoordinate(NextWord(rest));
    const float z = ParseCoordinate(NextWord(rest));
    vertices.push_back(T3DPoint{x, y, z});
  }
  std::vector<T3DTriangle> triangles;
  triangles.reserve(std::min(triangleCount, 1 << 16));
  for (int t = 0; t < triangleCount; ++t) {
    const std::string line = text.ReadLine();
    std::string_view rest(line);
    if (ParseInteger(NextWord(rest)) != 3) throw EBadFormat("Only triangular faces are supported");
    T3DTriangle triangle;
    for (uint32_t& corner : triangle) {
      const int64_t index = ParseInteger(NextWord(rest));
      if (index < 0 || index >= vertexCount) throw EBadFormat(Format("Invalid point in face list: %d", index));
      corner = static_cast<uint32_t>(index);
    }
    if (!Trim(rest).empty()) throw EBadFormat("Only triangular faces are supported");
    triangles.push_back(triangle);
  }

  SetVertexCount(vertexCount);
  SetTriangleCount(triangleCount);
  std::copy(vertices.begin(), vertices.end(), Vertices.begin());
  std::copy(triangles.begin(), triangles.end(), Triangles.begin());
  FillColor(kDefaultColor);
}

}  // namespace sq
