/* The C interface compiled as C, with its layouts checked: offsets and
 * sizes as the module and the host rely on them. Compile-time checks where
 * the layout is fixed; the run prints nothing and returns 0 when all hold. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "check.h"
#include "zul/abi.h"


/* Image information record: fields one after another, no padding. */
_Static_assert(offsetof(zul_image_info, tag) == 0, "tag");
_Static_assert(offsetof(zul_image_info, magic) == 24, "magic");
_Static_assert(offsetof(zul_image_info, count) == 28, "count");
_Static_assert(offsetof(zul_image_info, release) == 32, "release, 6 bytes");
_Static_assert(offsetof(zul_image_info, buildId) == 38, "build id, 20 bytes");
_Static_assert(offsetof(zul_image_info, buildDate) == 58, "build date, 16 bytes");
_Static_assert(offsetof(zul_image_info, padding) == 74, "8 zero bytes");
_Static_assert(offsetof(zul_image_info, moduleCell) == 82, "cell pointer");
_Static_assert(offsetof(zul_image_info, notice) == 90, "notice");
_Static_assert(offsetof(zul_image_info, sequence) == 98, "sequence, 8 bytes");
_Static_assert(offsetof(zul_image_info, module) == 106, "module pointer");
_Static_assert(offsetof(zul_image_info, terminator) == 114, "terminator");
_Static_assert(sizeof(zul_image_info) == 122, "image record size");

/* Module record. */
_Static_assert(offsetof(zul_module_record, ones) == 2, "0xFFFF");
_Static_assert(offsetof(zul_module_record, size1) == 4, "1024");
_Static_assert(offsetof(zul_module_record, size2) == 8, "1024");
_Static_assert(offsetof(zul_module_record, name) == 12, "name");
_Static_assert(offsetof(zul_module_record, procedure) == 20, "procedure");
_Static_assert(offsetof(zul_module_record, word3) == 28, "3");
_Static_assert(offsetof(zul_module_record, word9683) == 32, "9683");
_Static_assert(offsetof(zul_module_record, word2213) == 36, "0x2213A929");
_Static_assert(offsetof(zul_module_record, word15) == 40, "15");
_Static_assert(offsetof(zul_module_record, init) == 44, "init");
_Static_assert(offsetof(zul_module_record, trampoline) == 52, "trampoline");
_Static_assert(offsetof(zul_module_record, terminate) == 60, "terminate");
_Static_assert(offsetof(zul_module_record, word3b) == 68, "3");
_Static_assert(sizeof(zul_module_record) == 72, "module record size");

/* Version record: 26 pointer-sized words. */
_Static_assert(sizeof(zul_version_record) == 208, "version record size");
_Static_assert(offsetof(zul_version_record, buildTime) == 3 * 8, "build time word");
_Static_assert(offsetof(zul_version_record, hotfix) == 12 * 8, "hotfix word");
_Static_assert(offsetof(zul_version_record, buildDateTime) == 16 * 8, "date word");

/* Output-table sink attribute: 32 bytes, value at 8, second at 16. */
_Static_assert(sizeof(zul_attr) == 32, "attribute size");
_Static_assert(offsetof(zul_attr, kind) == 2, "kind");
_Static_assert(offsetof(zul_attr, value) == 8, "value");
_Static_assert(offsetof(zul_attr, second) == 16, "second");

/* Engine: rotation request of 128 bytes, operation table by slot. */
_Static_assert(sizeof(zul_rotation_request) == 128, "request size");
_Static_assert(offsetof(zul_rotation_request, normalization) == 4, "norm");
_Static_assert(offsetof(zul_rotation_request, rowNormalize) == 8, "row flag");
_Static_assert(offsetof(zul_rotation_request, one) == 9, "1");
_Static_assert(offsetof(zul_rotation_request, wantTransform) == 10, "transform flag");
_Static_assert(offsetof(zul_rotation_request, maxIter) == 12, "iterations");
_Static_assert(offsetof(zul_rotation_request, reserved) == 16, "int64 0");
_Static_assert(offsetof(zul_rotation_request, gamma) == 24, "gamma");
_Static_assert(offsetof(zul_rotation_request, tau) == 32, "tau");
_Static_assert(offsetof(zul_rotation_request, hkPower) == 40, "hkpower");
_Static_assert(offsetof(zul_rotation_request, power) == 48, "power");
_Static_assert(offsetof(zul_rotation_request, convergence) == 56, "convergence");
_Static_assert(offsetof(zul_rotation_request, coefficients) == 64, "k1..k4");
_Static_assert(offsetof(zul_rotation_request, workCoefficients) == 96, "copy");
_Static_assert(offsetof(zul_engine_ops, destroy) == 0 * sizeof(void *), "slot 0");
_Static_assert(offsetof(zul_engine_ops, reset) == 2 * sizeof(void *), "slot 2");
_Static_assert(offsetof(zul_engine_ops, run) == 3 * sizeof(void *), "slot 3");
_Static_assert(offsetof(zul_engine_ops, get) == 6 * sizeof(void *), "slot 6");
_Static_assert(offsetof(zul_engine_ops, set) == 7 * sizeof(void *), "slot 7");

/* Work-file descriptor: 256 bytes, the flag word first. */
_Static_assert(sizeof(zul_workfile) == 256, "work-file descriptor");

/* Variable description: the display format after the width. */
_Static_assert(offsetof(zul_var_desc, width) == 296, "width");
_Static_assert(offsetof(zul_var_desc, formatName) == 300, "format name");
_Static_assert(offsetof(zul_var_desc, formatWidth) == 336, "format width");
_Static_assert(offsetof(zul_var_desc, formatDecimals) == 340, "format decimals");
_Static_assert(sizeof(zul_var_desc) == 344, "variable description");
_Static_assert(offsetof(zul_workfile, flags) == 0, "flag word");

/* Message arguments and grammar records. */
_Static_assert(sizeof(zul_arg) == 16, "tagged argument");
_Static_assert(sizeof(zul_slot) == 24, "value slot");

int main(void) {
  int failures = 0;
  /* Service numbers: group * 1000 + slot, as the vector is indexed. */
  CHECK(ZUL_END_STEP / 1000 == 39 && ZUL_END_STEP % 1000 == 4);
  CHECK(ZUL_PARSE == 40249);
  CHECK(ZUL_SV_POOL == 4 && ZUL_SV_TOOLKIT == 82 && ZUL_SV_WORDS > ZUL_SV_TOOLKIT);
  /* The missing double: its bit pattern, and any all-ones exponent. */
  {
    double m = zul_missing();
    unsigned long long bits;
    memcpy(&bits, &m, sizeof bits);
    CHECK(bits == 0xFFFFD10000000000ULL);
    CHECK(zul_is_missing(m));
    CHECK(!zul_is_missing(0.0) && !zul_is_missing(-1.5e308));
    bits = 0x7FF0000000000000ULL; /* +infinity: exponent all ones */
    memcpy(&m, &bits, sizeof m);
    CHECK(zul_is_missing(m));
  }
  /* Flag bits count from the high bit of each byte. */
  {
    uint8_t flags[ZUL_FLAG_BYTES] = {0};
    zul_flag_set(flags, 0);
    zul_flag_set(flags, 9);
    CHECK(flags[0] == 0x80 && flags[1] == 0x40);
    CHECK(zul_flag_test(flags, 9) && !zul_flag_test(flags, 8) && !zul_flag_test(flags, -1));
  }
  /* The tolerated sink status: 63 in bits 11..21 and 53 in bits 0..10. */
  CHECK(zul_sink_status_tolerated(ZUL_SINK_NOTHING_TO_DO));
  CHECK(!zul_sink_status_tolerated(ZUL_SINK_BAD_REQUEST));
  CHECK(strlen(ZUL_IMAGE_TAG) == 22 && strlen(ZUL_MODULE_NAME) == 8);
  return failures ? 1 : 0;
}
