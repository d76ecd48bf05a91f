/* A run-time check for the C tests of the interface: prints the failed
 * condition with its place and counts it in a variable `failures` that the
 * test keeps in scope. */
#ifndef ZUL_TESTS_ABI_CHECK_H
#define ZUL_TESTS_ABI_CHECK_H

#include <stdio.h>

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                \
    }                                                            \
  } while (0)

#endif
