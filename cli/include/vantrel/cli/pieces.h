// A look at how the effect cut a frame's text into pieces, as seen from the
// host: every piece it cut out of the layer (the rectangle it copied), in the
// order it composited them (delay order), with the time at which it sampled
// the layer's transform for it and where and how it drew it.
#ifndef VANTREL_CLI_PIECES_H
#define VANTREL_CLI_PIECES_H

#include <cstddef>
#include <string>
#include <vector>

#include "ae_sdk.h"
#include "vantrel/cli/raster.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/scene.h"

namespace vantrel::cli {

struct ObservedPiece {
  PF_Rect box{};            // rectangle of the layer image copied (render pixels)
  double frame = 0;         // time at which the layer's transform was sampled
  int opacity = 0;          // composite opacity, 0..255
  PF_FloatMatrix matrix{};  // the piece's own matrix (the last one passed)
  int matrices = 0;         // 2 with motion blur
  bool skipped = false;     // sampled but not drawn: no box, opacity or placement
};

struct PiecesView {
  std::vector<ObservedPiece> pieces;  // by position in the delay order
  // Positions whose composites could as well belong to neighbours: pieces
  // were skipped among transforms the host cannot tell apart.
  std::vector<std::size_t> in_doubt;
  // The placements did not follow from the sampled transforms; `pieces` are
  // the composites in order, their times by order alone.
  bool unmatched = false;
  Raster layer;  // the effect's input at this frame
  PF_Err result = PF_Err_NONE;
  std::vector<std::string> violations;
};

// Renders the effect's layer at `frame` once, recording what the module asks
// of the host. Throws host::HostError.
PiecesView ObservePieces(const host::LoadedModule& module, const host::Scene& scene, int frame,
                         host::Resolution resolution);

// One line per piece: position, box, time, delay in frames, opacity, offset
// and scale of its placement.
std::string FormatPieces(const PiecesView& view, int frame);

// The layer image over a dark ground with every piece's box outlined in one
// of five colours by position, its position written above it.
Raster DrawPieceBoxes(const PiecesView& view);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_PIECES_H
