/*
 * zul/abi_grammar.h -- part of the C interface (zul/abi.h): the
 * statement grammar handed to the parse service 40/249 and the parsed-statement record it fills. Owned with src/zul/parse and src/zulfact/options.
 */
#ifndef ZUL_ABI_GRAMMAR_H
#define ZUL_ABI_GRAMMAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_GRAMMAR_H */
