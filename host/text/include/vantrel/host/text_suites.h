// The host's text suites: "AEGP Text Layer Suite" v1 hands a module the glyph
// contours of a text layer, "PF Path Data Suite" v1 lets it read them.
#ifndef VANTREL_HOST_TEXT_SUITES_H
#define VANTREL_HOST_TEXT_SUITES_H

#include "vantrel/host/session.h"

namespace vantrel::host {

// Registers both suites with the session's registry. The function tables are
// static; registering again is harmless.
//
// AEGP_GetNewTextOutlines takes a live kLayer handle (a HostLayer* lent to
// the session), asks HostLayer::TextOutlines at the given time, issues a
// kTextOutlines object that owns the contours and lends each contour as a
// kPath handle until AEGP_DisposeTextOutlines. Unknown, stale or disposed
// handles and out-of-range indices are refused with an error code
// (A_Err_PARAMETER for the text layer suite, PF_Err_BAD_CALLBACK_PARAM for
// the path suite) and recorded as a violation.
void RegisterTextSuites(Session& session);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_TEXT_SUITES_H
