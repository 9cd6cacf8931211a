// The host's layer, stream and effect suites over a scene's layer and effect:
// "AEGP PF Interface Suite" 1, "AEGP Layer Suite" 11, "AEGP Stream Suite" 9
// and 8, and "AEGP Effect Suite" 3.
#ifndef VANTREL_HOST_SCENE_SUITES_H
#define VANTREL_HOST_SCENE_SUITES_H

#include "ae_sdk.h"
#include "vantrel/host/layer.h"
#include "vantrel/host/session.h"

namespace vantrel::host {

// Keeps a layer and an effect reachable from one session's suites. While it
// lives, the layer is lent to the session as a kLayer handle (the handle value
// is the HostLayer's address) and the session's effect_ref stands for the
// effect. Destruction revokes the layer handle and unbinds the session; the
// layer, the effect and the session must outlive it.
class SceneBinding {
 public:
  SceneBinding(SceneBinding&& other) noexcept;
  SceneBinding& operator=(SceneBinding&&) = delete;
  SceneBinding(const SceneBinding&) = delete;
  ~SceneBinding();

  AEGP_LayerH layer_handle() const;

 private:
  friend SceneBinding RegisterSceneSuites(Session&, const HostLayer&, const HostEffect&);
  SceneBinding(Session* session, const HostLayer* layer) : session_(session), layer_(layer) {}
  Session* session_;
  const HostLayer* layer_;
};

// Registers the suites with the session and binds the layer and effect to it
// (one binding per session; binding a session twice throws HostError).
//
// Strictness: every function runs under CallGuard; an unknown, stale,
// disposed or wrong-kind handle, a time mode other than layer time, a zero
// time scale or a null output pointer is refused with A_Err_PARAMETER and
// recorded as a violation. Effect references, streams and stream values are
// owned by the module: each AEGP_GetNewStreamValue issues a kStreamValue
// handle that AEGP_DisposeStreamValue of a value of the same stream disposes,
// so a value never disposed is reported as a leak when the module call ends.
// Functions of these suites that the effect has no use for answer
// A_Err_GENERIC and record a violation naming themselves.
[[nodiscard]] SceneBinding RegisterSceneSuites(Session& session, const HostLayer& layer,
                                               const HostEffect& effect);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_SCENE_SUITES_H
