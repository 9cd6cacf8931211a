// The imaging suites of the stand-in host: "AEGP World Suite" 3,
// "PF World Transform Suite" 1, "AEGP Iterate Suite" 1, and the fill, copy,
// transform_world and iterate_generic utility callbacks of PF_InData.
#ifndef VANTREL_HOST_IMAGING_SUITES_H
#define VANTREL_HOST_IMAGING_SUITES_H

#include "vantrel/host/session.h"

namespace vantrel::host {

// Registers the suites with the session and installs the utility callbacks.
// Worlds made by AEGP_New are owned handles (HandleKind::kWorld) of the
// session, so a world the module does not dispose of is reported as a leak.
void RegisterImagingSuites(Session& session);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_IMAGING_SUITES_H
