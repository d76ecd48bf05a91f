// Target rotations done in the module: PROCRUSTES towards the TARGET=
// table and PROMAX towards a power of the (prerotated) pattern (Hendrickson
// and White 1964). The least-squares transformation T solves
// (L^T L) T = L^T target; the oblique solution is finished by FinishOblique
// and T becomes the transformation from the unrotated pattern.
#pragma once

#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Rotates ps.loadings with code 11 (PROMAX) or 13 (PROCRUSTES) as
// solution `index`. Too few TARGET= rows: message 180/81, code 108, the
// solution unchanged. Returns 0, or the completion code to end the step
// with when the TARGET= table cannot be read (1012).
int TargetRotate(ProcState& ps, int code, int index);

// A target rotation from plain matrices: the least-squares T towards the
// target and the pattern L T, column by column.
struct TargetRotation {
  std::vector<double> transform;  // m x m
  std::vector<double> pattern;    // p x m
  bool singular = false;          // L^T L singular: T is what the sweep left
};

// T and L T for the p x m pattern l and target (p x m).
TargetRotation targetRotation(const double* l, const double* target, int p, int m);

// The PROMAX power: the rotation's own parameter, else POWER=, else 3.
double promaxPower(const ProcState& ps, int index);

// The PROMAX target of the p x m pattern l into target: rows normalised to
// unit length unless `noNormalization` (rows with a sum of squares up to
// 1.110223024625157e-12 are left as they are), then each element t
// replaced by t |t|^(k - 1).
void promaxTarget(const double* l, int p, int m, double k, bool noNormalization, double* target);

// The least-squares transformation t (m x m) that brings the p x m pattern
// l closest to the target: (L^T L) T = L^T target. False when L^T L is
// singular (t then holds what the sweep left).
bool procrustesTransform(const double* l, const double* target, int p, int m, double* t);

// l (p x m) = l T, in place.
void transformPattern(double* l, int p, int m, const double* t);

// t = previous t (both m x m): the transformation of a rotation that
// follows another, from the pattern before the first.
void composeTransform(double* t, const double* previous, int m);

}  // namespace zulfact
