/*
 * zul/abi_engine.h -- part of the C interface (zul/abi.h): the
 * numeric engine object of libqkxfac.so: operation table, items, creation configuration, factory.
 */
#ifndef ZUL_ABI_ENGINE_H
#define ZUL_ABI_ENGINE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_ENGINE_H */
