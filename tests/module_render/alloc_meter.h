// Counts the bytes that operator new hands out in this test program, so that
// a test can bound what one render call holds at its peak.
#ifndef VANTREL_TESTS_MODULE_RENDER_ALLOC_METER_H
#define VANTREL_TESTS_MODULE_RENDER_ALLOC_METER_H

#include <cstddef>

namespace vantrel::render_test {

// Bytes allocated through operator new and not yet freed.
std::size_t LiveBytes();

// Starts a new peak at the bytes live now; PeakBytesSinceMark() is the most
// that was live at once since then, above that starting point.
void MarkPeak();
std::size_t PeakBytesSinceMark();

}  // namespace vantrel::render_test

#endif  // VANTREL_TESTS_MODULE_RENDER_ALLOC_METER_H
