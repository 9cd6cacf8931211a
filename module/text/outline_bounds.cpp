// Boxes of the text layer's glyph outlines, read from the host's paths.
#include <algorithm>
#include <cstddef>

#include "binding/suite_cache.h"
#include "text/text.h"

namespace vantrel {

void BoxOfVertices(const VertexList& vertices, bool evaluate_tangents, Piece& piece) {
  // Coordinates as the host reports them (outline space, y down). The curves
  // between vertices are not evaluated: with tangents off a bulging curve can
  // reach past the box.
  for (std::size_t v = 0; v < vertices.size(); ++v) {
    const PF_PathVertex& vertex = vertices[v];
    const double tan_min_x = std::min(vertex.tan_in_x, vertex.tan_out_x);
    const double tan_max_x = std::max(vertex.tan_in_x, vertex.tan_out_x);
    const double tan_min_y = std::min(vertex.tan_in_y, vertex.tan_out_y);
    const double tan_max_y = std::max(vertex.tan_in_y, vertex.tan_out_y);
    if (v == 0) {
      piece.left = piece.right = vertex.x;
      piece.top = piece.bottom = vertex.y;
      if (evaluate_tangents) {
        piece.left = std::min(piece.left, tan_min_x);
        piece.right = std::max(piece.right, tan_max_x);
        piece.top = std::min(piece.top, tan_min_y);
        piece.bottom = std::max(piece.bottom, tan_max_y);
      }
    }
    piece.left = std::min(piece.left, vertex.x);
    piece.right = std::max(piece.right, vertex.x);
    piece.top = std::min(piece.top, vertex.y);
    piece.bottom = std::max(piece.bottom, vertex.y);
    if (evaluate_tangents) {
      piece.left = std::min(piece.left, tan_min_x);
      piece.right = std::max(piece.right, tan_max_x);
      piece.top = std::min(piece.top, tan_min_y);
      piece.bottom = std::max(piece.bottom, tan_max_y);
    }
  }
}

void BuildTextPieces(PF_InData* in_data, double threshold, std::vector<Piece>& pieces,
                     std::vector<VertexList>& vertex_lists, int32_t& count,
                     AEGP_TextOutlinesH outlines, bool word_mode, bool evaluate_tangents) {
  SuiteCache suites(in_data->pica_basicP);
  // The per-outline queries are not checked: every output starts with a value
  // that a failed call leaves harmless, and the walk goes on with the next
  // query. No path gives no segments; a vertex that cannot be read repeats
  // the one before it, which leaves the box as it is (the first vertex of an
  // outline reads as the origin).
  for (int32_t i = 0; i < count; ++i) {
    // at(): lists shorter than `count` end the render as an index error.
    Piece& piece = pieces.at(static_cast<std::size_t>(i));
    VertexList& vertices = vertex_lists.at(static_cast<std::size_t>(i));

    PF_PathOutlinePtr path = nullptr;
    suites.Get<AEGP_TextLayerSuite1>().AEGP_GetIndexedTextOutline(outlines, i, &path);
    const PF_PathDataSuite1& path_data = suites.Get<PF_PathDataSuite1>();
    A_long segments = 0;
    path_data.PF_PathNumSegments(in_data->effect_ref, path, &segments);
    for (A_long v = 0; v < segments; ++v) {
      PF_PathVertex vertex = vertices.empty() ? PF_PathVertex{} : vertices.back();
      path_data.PF_PathVertexInfo(in_data->effect_ref, path, v, &vertex);
      vertices.push_back(vertex);
    }
    BoxOfVertices(vertices, evaluate_tangents, piece);
  }

  pieces.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  GroupPieces(pieces, threshold, word_mode, DownsampleFactor(in_data->downsample_x),
              DownsampleFactor(in_data->downsample_y));
  count = static_cast<int32_t>(pieces.size());
}

}  // namespace vantrel
