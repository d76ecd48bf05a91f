/*
 * zul/abi_output.h -- part of the C interface (zul/abi.h): the
 * output-table sink: 32-byte attribute records, attribute and operation numbers, object kinds. Owned with src/zul/output and src/zulfact/output.
 */
#ifndef ZUL_ABI_OUTPUT_H
#define ZUL_ABI_OUTPUT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_OUTPUT_H */
