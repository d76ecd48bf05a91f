/*
 * zul/abi_engine.h -- part of the C interface (zul/abi.h): the numeric
 * engine object of libqkxfac.so: operation table, items, creation
 * configuration, rotation request and factory.
 *
 * The module loads libqkxfac.so through the toolkit's extension loader
 * (zul_toolkit.loadExtension(L"qkxfac")), looks up ZUL_ENGINE_FACTORY with
 * extensionSymbol() and creates one engine per step. The object's first
 * word points to its operation table; the module calls slots 0, 2, 3, 6
 * and 7 only. A NULL slot counts as a failure of the call.
 */
#ifndef ZUL_ABI_ENGINE_H
#define ZUL_ABI_ENGINE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Creation configuration, in this order. Doubles that were not given hold
 * the host's missing value. */
typedef struct zul_engine_config {
  int32_t nVars;             /* analysis variables */
  int32_t fixed;             /* always -99 */
  double singularity;        /* SINGULAR= (default 1e-7) */
  double convergence;        /* CONVERGE= (default 0.001) */
  int32_t threadCount;       /* threads requested */
  int32_t threadsGiven;      /* 1 when THREADS= was given */
  double parallelLevel;      /* parallel-analysis level (ALPHA= of PARALLEL) */
  int32_t nSims;             /* parallel-analysis simulations */
  int32_t mapVariant;        /* 0, 2 or 4 */
  int32_t parallelCriterion; /* 1 when the parallel criterion decides */
  int32_t seed;              /* seed of the simulations */
  int32_t noIntercept;       /* 1 under NOINT: the correlations are about zero */
} zul_engine_config;

/* Rotation request handed to run (slot 3): 128 bytes, little-endian,
 * zero-filled before use. */
typedef struct zul_rotation_request {
  int32_t method;            /*   0 engine method code */
  int32_t normalization;     /*   4 1, 2, 3, 4 or 6 */
  uint8_t rowNormalize;      /*   8 1 when NORM= is not given or KAISER */
  uint8_t one;               /*   9 always 1 */
  uint8_t wantTransform;     /*  10 1: return the transformation matrix */
  uint8_t zero;              /*  11 always 0 */
  int32_t maxIter;           /*  12 iteration limit */
  int64_t reserved;          /*  16 0 */
  double gamma;              /*  24 missing when not given */
  double tau;                /*  32 */
  double hkPower;            /*  40 */
  double power;              /*  48 */
  double convergence;        /*  56 */
  double coefficients[4];    /*  64 k1..k4 of the generalized Crawford-Ferguson criterion */
  double workCoefficients[4];/*  96 working copy */
} zul_rotation_request;     /* 128 bytes */

typedef struct zul_engine zul_engine;

/* Operation table. Slots 1, 4 and 5 are not used by the module. */
typedef struct zul_engine_ops {
  void (*destroy)(zul_engine *engine);                        /* slot 0 */
  void (*unused1)(void);                                      /* slot 1 */
  void (*reset)(zul_engine *engine);                          /* slot 2 */
  int32_t (*run)(zul_engine *engine, const zul_rotation_request *request); /* slot 3 */
  void (*unused4)(void);                                      /* slot 4 */
  void (*unused5)(void);                                      /* slot 5 */
  /* slot 6 get: *length holds the buffer size in bytes on entry and the
   * bytes written on return; the last two arguments are 0. 0 on success. */
  int32_t (*get)(zul_engine *engine, int32_t item, void *buffer, int64_t *length,
                 int64_t zero1, int64_t zero2);
  /* slot 7 set: 0 on success. */
  int32_t (*set)(zul_engine *engine, int32_t item, const void *buffer, int64_t length);
} zul_engine_ops;

struct zul_engine {
  const zul_engine_ops *ops; /* first word: the operation table */
};

/* Items. p = nVars (or the rotation's p), m = factors. Some numbers are
 * used in both directions with different contents. */
enum zul_engine_item {
  ZUL_ITEM_NVARS = 1,            /* set int32: p of the rotation */
  ZUL_ITEM_NFACTORS = 2,         /* set int32: m */
  ZUL_ITEM_NOBS = 3,             /* set double: N */
  ZUL_ITEM_ROTATED = 4,          /* get p*m doubles: rotated pattern */
  ZUL_ITEM_TRANSFORM = 5,        /* get m*m doubles: transformation */
  ZUL_ITEM_PATTERN = 6,          /* set p*m doubles: pattern to rotate */
  ZUL_ITEM_FACTOR_CORR = 6,      /* get m(m+1)/2 doubles: packed factor correlations */
  ZUL_ITEM_CORR = 11,            /* set p(p+1)/2 doubles: packed correlations */
  ZUL_ITEM_VAR_WEIGHTS = 13,     /* get p doubles */
  ZUL_ITEM_STDDEVS = 14,         /* set p doubles */
  ZUL_ITEM_FACTOR_WEIGHTS = 14,  /* get m doubles (Harris-Kaiser step) */
  ZUL_ITEM_OBSERVED_EIGEN = 18,  /* get p doubles */
  ZUL_ITEM_ITERATIONS = 21,      /* get int32 */
  ZUL_ITEM_STATUS = 55,          /* get int32: completion status of run */
  ZUL_ITEM_CRITERION = 57,       /* get double */
  ZUL_ITEM_CONVERGENCE = 58,     /* get double */
  ZUL_ITEM_PARALLEL_FACTORS = 60,/* get int32 */
  ZUL_ITEM_PARALLEL_MEAN = 61,   /* get p doubles: mean simulated eigenvalues */
  ZUL_ITEM_PARALLEL_CRITICAL = 62,/* get p doubles: critical simulated eigenvalues */
  ZUL_ITEM_MAP_FACTORS2 = 63,    /* get int32 */
  ZUL_ITEM_MAP_AVERAGE2 = 64,    /* get p doubles */
  ZUL_ITEM_MAP_FACTORS4 = 65,    /* get int32 */
  ZUL_ITEM_MAP_AVERAGE4 = 66,    /* get p doubles */
  ZUL_ITEM_THREADS = 67          /* get int32: threads the engine will use */
};

/* Rotation methods (zul_rotation_request.method): the criteria of the
 * generalized Crawford-Ferguson family with their usual names, orthogonal
 * (1-6, 16, 18, 20) and oblique (7-15, 17, 19, 21), and the Harris-Kaiser
 * orthoblique step (23). */
enum zul_engine_method {
  ZUL_METHOD_QUARTIMAX = 1,
  ZUL_METHOD_VARIMAX = 2,
  ZUL_METHOD_BIQUARTIMAX = 3,
  ZUL_METHOD_EQUAMAX = 4,
  ZUL_METHOD_PARSIMAX = 5,
  ZUL_METHOD_FACTOR_PARSIMONY = 6,
  ZUL_METHOD_QUARTIMIN = 7,
  ZUL_METHOD_BIQUARTIMIN = 8,
  ZUL_METHOD_COVARIMIN = 9,
  ZUL_METHOD_OBQUARTIMAX = 10,
  ZUL_METHOD_OBVARIMAX = 11,
  ZUL_METHOD_OBBIQUARTIMAX = 12,
  ZUL_METHOD_OBEQUAMAX = 13,
  ZUL_METHOD_OBPARSIMAX = 14,
  ZUL_METHOD_OBFACTOR_PARSIMONY = 15,
  ZUL_METHOD_ORTHOMAX = 16,
  ZUL_METHOD_OBLIMIN = 17,
  ZUL_METHOD_ORTHCF = 18,
  ZUL_METHOD_OBLICF = 19,
  ZUL_METHOD_ORTHGENCF = 20,
  ZUL_METHOD_OBLIGENCF = 21,
  ZUL_METHOD_HARRIS_KAISER = 23
};

/* Row normalisation before a rotation (zul_rotation_request.normalization). */
enum zul_engine_normalization {
  ZUL_NORM_KAISER = 1,          /* rows to unit length (Kaiser 1958) */
  ZUL_NORM_CURETON_MULAIK = 2,  /* Kaiser, then Cureton-Mulaik (1975) weights */
  ZUL_NORM_RAW = 3,             /* as given */
  ZUL_NORM_COVARIANCE = 4,      /* rows divided by the standard deviations */
  ZUL_NORM_BY_FLAG = 6          /* Kaiser when rowNormalize is 1 */
};

/* Completion status of run (item 55). */
enum zul_engine_status {
  ZUL_ENGINE_STATUS_STALLED = 1,         /* no further progress in double precision,
                                            close to the optimum: usable */
  ZUL_ENGINE_STATUS_ITERATION_LIMIT = 2, /* the iteration limit was reached */
  ZUL_ENGINE_STATUS_NO_PROGRESS = 3,     /* no progress far from any optimum, or the
                                            factors collapsing (no optimum exists) */
  ZUL_ENGINE_STATUS_FAILED = 4,          /* the request could not be carried out */
  ZUL_ENGINE_STATUS_CONVERGED = 5,       /* the convergence measure reached the tolerance */
  ZUL_ENGINE_STATUS_AT_START = 6,        /* the start already met the tolerance */
  ZUL_ENGINE_STATUS_UNSUPPORTED = 7      /* the engine does not provide the method */
};

/* Results of the operations run, get and set. */
enum zul_engine_result {
  ZUL_ENGINE_OK = 0,
  ZUL_ENGINE_UNKNOWN_ITEM = 1,    /* no such item, or not in this direction */
  ZUL_ENGINE_BAD_LENGTH = 2,      /* the byte length does not fit the item */
  ZUL_ENGINE_NOT_AVAILABLE = 3,   /* nothing to get yet */
  ZUL_ENGINE_BAD_ARGUMENT = 4,
  ZUL_ENGINE_NO_MEMORY = 5,       /* memory ran out inside the call */
  ZUL_ENGINE_INTERNAL_FAULT = 6   /* anything else went wrong inside */
};

/* The factory exported by libqkxfac.so: NULL when the configuration is
 * unusable or memory is short. */
#define ZUL_ENGINE_FACTORY "zul_engine_create"
typedef zul_engine *(*zul_engine_create_fn)(const zul_engine_config *config);
#if defined(ZUL_EXPORT)
ZUL_EXPORT zul_engine *zul_engine_create(const zul_engine_config *config);
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_ENGINE_H */
