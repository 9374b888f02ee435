// ASCII PLY: x, y, z vertices with red, green, blue colours, and triangular faces.
// The reader follows the header: it finds the vertex coordinates and colours by
// name among the vertex properties, skips the lines of elements it does not know,
// and refuses counts it cannot hold and faces that name vertices outside the file.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
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

// An element count from the header.
int ParseCount(std::string_view text) {
  const int64_t count = ParseInteger(Trim(text));
  if (count < 0 || count > std::numeric_limits<int32_t>::max()) throw EBadFormat("Unsupported file format");
  return static_cast<int>(count);
}

// What the header says about one element: its name, count and, for the vertices,
// in which column each value we read stands (-1: not declared).
struct TPlyElement {
  std::string Name;
  int Count = 0;
  int Columns = 0;  // plain properties before the first list property
  bool HasList = false;
  std::array<int, 6> Column{-1, -1, -1, -1, -1, -1};  // x, y, z, red, green, blue
  std::array<bool, 3> FloatColor{};                   // a colour stored as 0..1
};

constexpr std::array<std::string_view, 6> kVertexProperties{"x", "y", "z", "red", "green", "blue"};

bool IsFloatType(std::string_view type) {
  return type == "float" || type == "float32" || type == "double" || type == "float64";
}

// Reads the header after the "ply" line up to "end_header" (lines trimmed and
// lower-cased).  A property line names its type and then the property.
std::vector<TPlyElement> ReadPlyHeader(TTextStream& text) {
  std::vector<TPlyElement> elements;
  for (;;) {
    const std::string line = LowerCase(Trim(text.ReadLine()));
    if (line == "end_header") break;
    std::string_view rest(line);
    const std::string_view keyword = NextWord(rest);
    if (keyword == "format") {
      if (NextWord(rest).starts_with("binary")) throw EBadFormat("binary PLY is not supported");
    } else if (keyword == "element") {
      TPlyElement& element = elements.emplace_back();
      element.Name = std::string(NextWord(rest));
      element.Count = ParseCount(rest);
    } else if (keyword == "property" && !elements.empty()) {
      TPlyElement& element = elements.back();
      const std::string_view type = NextWord(rest);
      if (type == "list") {
        element.HasList = true;
        continue;
      }
      if (element.HasList) continue;  // columns after a list have no fixed place
      const std::string_view name = NextWord(rest);
      for (size_t k = 0; k < kVertexProperties.size(); ++k)
        if (name == kVertexProperties[k] && element.Column[k] < 0) {
          element.Column[k] = element.Columns;
          if (k >= 3) element.FloatColor[k - 3] = IsFloatType(type);
        }
      ++element.Columns;
    }
  }
  return elements;
}

// A colour channel as a byte: 0..1 scaled for float properties, kept within 0..255.
uint32_t ColorChannel(std::string_view word, bool isFloat) {
  double value = ParseCoordinate(word);
  if (isFloat) value *= 255;
  value = std::nearbyint(value);
  return value >= 255 ? 255u : value > 0 ? static_cast<uint32_t>(value) : 0u;
}

}  // namespace

void TSurfaceColorModel::SavePLY(TBaseStream& stream) {
  TTextStream text(stream);
  text.LineBreak = "\n";
  text.WriteText(fmt::format(
      "ply\nformat ascii 1.0\nelement vertex {}\nproperty float32 x\nproperty float32 y\nproperty float32 z\n"
      "property uchar red\nproperty uchar green\nproperty uchar blue\n"
      "element face {}\nproperty list uint8 int32 vertex_indices\nend_header\n",
      VertexCount, TriangleCount));
  std::string line;
  for (int i = 0; i < VertexCount; ++i) {
    const T3DPoint& v = Vertices[i];
    const uint32_t c = Colors[i];
    line.clear();
    // + 0.0f writes a negative zero as "0.00000000".
    fmt::format_to(std::back_inserter(line), "{:.8f} {:.8f} {:.8f} {} {} {}", v.X + 0.0f, v.Y + 0.0f, v.Z + 0.0f,
                   (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
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

  const std::vector<TPlyElement> elements = ReadPlyHeader(text);
  const auto vertexElement =
      std::find_if(elements.begin(), elements.end(), [](const TPlyElement& e) { return e.Name == "vertex"; });
  if (vertexElement == elements.end() || vertexElement->Count == 0) throw EBadFormat("Unsupported file format");
  const int vertexCount = vertexElement->Count;
  TPlyElement vertex = *vertexElement;
  // Without named coordinates the first three columns are x, y and z.
  if (vertex.Column[0] < 0 || vertex.Column[1] < 0 || vertex.Column[2] < 0)
    vertex.Column[0] = 0, vertex.Column[1] = 1, vertex.Column[2] = 2;
  const bool hasColors = vertex.Column[3] >= 0 && vertex.Column[4] >= 0 && vertex.Column[5] >= 0;
  const int wordsNeeded = 1 + *std::max_element(vertex.Column.begin(), vertex.Column.end());

  // The arrays grow with the lines actually read, so a header that promises more
  // than the file holds ends in the read error rather than a huge allocation.
  std::vector<T3DPoint> vertices;
  std::vector<uint32_t> colors;
  std::vector<T3DTriangle> triangles;
  std::vector<std::string_view> words;
  for (const TPlyElement& element : elements) {
    if (&element == &*vertexElement) {
      vertices.reserve(std::min(vertexCount, 1 << 16));
      if (hasColors) colors.reserve(vertices.capacity());
      for (int i = 0; i < vertexCount; ++i) {
        const std::string line = text.ReadLine();
        std::string_view rest(line);
        words.clear();
        // Missing values read as 0, as malformed numbers do.
        for (int k = 0; k < wordsNeeded; ++k) words.push_back(NextWord(rest));
        vertices.push_back(T3DPoint{ParseCoordinate(words[vertex.Column[0]]), ParseCoordinate(words[vertex.Column[1]]),
                                    ParseCoordinate(words[vertex.Column[2]])});
        if (hasColors)
          colors.push_back(ColorChannel(words[vertex.Column[3]], vertex.FloatColor[0]) << 16 |
                           ColorChannel(words[vertex.Column[4]], vertex.FloatColor[1]) << 8 |
                           ColorChannel(words[vertex.Column[5]], vertex.FloatColor[2]));
      }
    } else if (element.Name == "face" && triangles.empty()) {
      triangles.reserve(std::min(element.Count, 1 << 16));
      for (int t = 0; t < element.Count; ++t) {
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
    } else {
      for (int i = 0; i < element.Count; ++i) text.ReadLine();
    }
  }

  SetVertexCount(vertexCount);
  SetTriangleCount(static_cast<int>(triangles.size()));
  std::copy(vertices.begin(), vertices.end(), Vertices.begin());
  std::copy(triangles.begin(), triangles.end(), Triangles.begin());
  if (hasColors)
    std::copy(colors.begin(), colors.end(), Colors.begin());
  else
    FillColor(kDefaultColor);
}

}  // namespace sq
