// What the host's layer and effect handles stand for. The scene component
// implements these over keyframed data; the suites of the core, text and
// scene components read them. Layer time values are at the layer's time scale.
#ifndef VANTREL_HOST_LAYER_H
#define VANTREL_HOST_LAYER_H

#include <optional>
#include <vector>

#include "ae_sdk.h"

namespace vantrel::host {

// One glyph contour as the host reports it: on-curve vertices with absolute
// tangent points, in layer coordinates at full resolution, y downward.
struct OutlinePath {
  std::vector<PF_PathVertex> vertices;
  bool open = false;
};
using TextOutlineSet = std::vector<OutlinePath>;

// The layer an effect is applied to (what AEGP_LayerH points to).
class HostLayer {
 public:
  virtual ~HostLayer() = default;
  virtual AEGP_ObjectType ObjectType() const = 0;
  // Position, Anchor Point and Scale (percent) at a layer time, after
  // expressions; nullopt for a stream the layer does not have.
  virtual std::optional<AEGP_ThreeDVal> StreamValue(AEGP_LayerStream stream,
                                                    const A_Time& layer_time) const = 0;
  // Glyph contours in reading order at a layer time; empty for a layer that
  // is not text or has no text.
  virtual TextOutlineSet TextOutlines(const A_Time& layer_time) const = 0;
};

// The effect instance (what an AEGP_EffectRefH stands for): its controls'
// values as animation streams.
class HostEffect {
 public:
  virtual ~HostEffect() = default;
  virtual int NumParams() const = 0;  // including the input layer at index 0
  // A one-dimensional control's value at a layer time; nullopt for an index
  // that has no such stream.
  virtual std::optional<double> ParamValue(int param_index, const A_Time& layer_time) const = 0;
};

}  // namespace vantrel::host

#endif  // VANTREL_HOST_LAYER_H
