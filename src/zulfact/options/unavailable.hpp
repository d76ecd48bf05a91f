// What the statement can ask for but this version does not do yet, checked
// once right after parsing, before any output table is declared and before
// the data are read.
//
// Two lists, both in unavailable.cpp:
//  - kUnavailable: requests whose result is not built (a method, a rotation,
//    a table or graph). Asking for one ends the step with message 180/902
//    naming it and completion code 2000, so that a run never reports
//    success for work it did not do.
//  - kNoEffect: options that are accepted but change nothing yet. Each one
//    given gets note 180/905 and the step goes on.
// When a feature lands, delete its line from the list (and its case from
// tests/programs/unavailable_features.zul).
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Issues 180/902 for every requested feature that is not available and
// raises the completion code to 2000; returns true when there was one.
bool reportUnavailableFeatures(ProcState& ps);

// Issues 180/905 for every given option that has no effect yet.
void reportOptionsWithoutEffect(const ProcState& ps);

}  // namespace zulfact
