/*
 * zul/abi_image.h -- part of the C interface (zul/abi.h): the
 * image information, module and version records that libzulfact.so exports to the host.
 */
#ifndef ZUL_ABI_IMAGE_H
#define ZUL_ABI_IMAGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_IMAGE_H */
