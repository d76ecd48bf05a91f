/*
 * zul/abi_grammar.h -- part of the C interface (zul/abi.h): the statement
 * grammar that the module hands to the parse service 40/249, and the
 * parsed-statement record that the service fills.
 *
 * The grammar is plain data read by the host's recursive-descent parser
 * (src/zul/parse). A step is a list of statements; the first one is the
 * procedure statement (statements[0], e.g. FACTOR), the others are
 * subordinate statements (VAR, BY, ...), each at most once per step but
 * for ZUL_STMT_REPEATED ones.
 *
 * Spellings. Every name in the grammar is a string of spellings separated
 * by '|', the main spelling first: "NFACTORS|NFACTOR|NFACT|N". Spellings
 * match whole words, ignoring case. A spelling that ends in '$' is
 * accepted (without the '$') but is not listed in messages that show what
 * was expected: "FULLER$|F$".
 *
 * Statement shapes (zul_statement.kind):
 *   ZUL_STMT_OPTIONS  name option ... ;       options from keywords[]
 *   ZUL_STMT_VARLIST  name variable-list ;    fills lists[list]
 *   ZUL_STMT_BY       BY [DESCENDING] name ... [NOTSORTED] ;  lists[list];
 *                     keywords[] holds the flag keywords allowed among the
 *                     names (NOTSORTED)
 *   ZUL_STMT_ONEVAR   name variable ;         lists[list] with one entry
 *   ZUL_STMT_PRIORS   name word ;  or  name number [,] number ... ;
 *                     fills slots[list]: a word from words[] stores its
 *                     code (count 0); numbers are a ZUL_VALUE_NUMBERS value
 *   ZUL_STMT_REPEATED name option ... ;       as ZUL_STMT_OPTIONS, but it may
 *                     be given any number of times: each occurrence fills
 *                     its own zul_occurrence (zul_parsed.occurrences) with
 *                     its options' bits and slots; the main record gets
 *                     only the statement's flagBit
 * Variable lists (resolved against the columns of DATA=): names; x1-x5
 * (same prefix, numbered suffixes); a--d, a-NUMERIC-d, a-CHARACTER-d and
 * a-CHAR-d (columns from a to d in table order, all, numeric only or
 * character only); pre: (every column whose name starts with pre);
 * _NUMERIC_, _CHARACTER_, _CHAR_ and _ALL_.
 *
 * Option forms (zul_keyword.kind), after the keyword's spelling:
 *   ZUL_VALUE_FLAG      nothing; only sets flagBit
 *   ZUL_VALUE_NUMBER    = number                 slot v.number
 *   ZUL_VALUE_INTEGER   = integer                slot v.number
 *                       (both also accept one of words[] when present:
 *                       NFACTORS=PARALLEL)
 *   ZUL_VALUE_NAME      = name                   slot data (text), count
 *                                                 (length), v.name (first 8
 *                                                 characters, blank padded)
 *   ZUL_VALUE_TEXT      = 'quoted text' or name  as ZUL_VALUE_NAME
 *   ZUL_VALUE_TABLE     = table [(TYPE=.. LABEL=..)]  tables[slot]
 *   ZUL_VALUE_WORD      = word                   slot v.number = the word's
 *                                                 code, data = its main
 *                                                 spelling, count = length
 *   ZUL_VALUE_CODES     = word[(n ...)] [, word[(n ...)]] ...
 *                       slot data = const zul_code_list *, count = entries,
 *                       v.number = code of the first entry. Given again,
 *                       the option appends and records a boundary. With
 *                       ZUL_CHECK_SINGLE only one word is allowed and a
 *                       repetition replaces the earlier value.
 *   ZUL_VALUE_REQUESTS  = word[(options)]  or  = (word[(options)] ...)
 *                       each word sets its flagBit (PLOTS=)
 *   ZUL_VALUE_NUMBERS   = number [,] number ...  slot data = const double *,
 *                                                 count = values
 *   ZUL_VALUE_PAIRS     = [name = text ...]      slot data = const
 *                                                 zul_pair *, count = pairs
 * Any keyword with options[] may be followed by "(option ...)" right after
 * its spelling (PLOTS(UNPACK)=..., PARALLEL(NSIMS=500)); any word with
 * options[] by "(option ...)" after the word; a word with maxParams > 0 by
 * "(number [,] ...)", at most maxParams numbers (rotation parameters).
 * ZUL_CHECK_OPTIONAL_VALUE makes "= value" optional (COVER, CI): the bare
 * keyword sets flagBit only. Two keywords may share a spelling when one is
 * a flag and the other takes a value: the parser picks the value form when
 * '=' or '(' follows (PLOT alone, PLOT=...).
 *
 * Ranges (zul_keyword.check): ZUL_CHECK_MIN and ZUL_CHECK_MAX bound a
 * number, inclusive; a value outside is a range error naming the option
 * and the allowed range. Numbers may be written with a sign.
 *
 * Flag bits. Bit b is bit 7 - (b mod 8) of flags[b / 8]; use
 * zul_flag_test(). A keyword's or word's flagBit is set whenever it is
 * given (also when it has a value). -1 means no bit.
 */
#ifndef ZUL_ABI_GRAMMAR_H
#define ZUL_ABI_GRAMMAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct zul_table;

/* ------------------------------------------------------------------ */
/* The grammar                                                         */
/* ------------------------------------------------------------------ */

#define ZUL_GRAMMAR_FORMAT 1

enum zul_value_kind {
  ZUL_VALUE_FLAG = 0,
  ZUL_VALUE_NUMBER = 1,
  ZUL_VALUE_INTEGER = 2,
  ZUL_VALUE_NAME = 3,
  ZUL_VALUE_TEXT = 4,
  ZUL_VALUE_TABLE = 5,
  ZUL_VALUE_WORD = 6,
  ZUL_VALUE_CODES = 7,
  ZUL_VALUE_REQUESTS = 8,
  ZUL_VALUE_NUMBERS = 9,
  ZUL_VALUE_PAIRS = 10
};

/* zul_keyword.check bits */
enum zul_check {
  ZUL_CHECK_MIN = 1,            /* value >= min */
  ZUL_CHECK_MAX = 2,            /* value <= max */
  ZUL_CHECK_OPTIONAL_VALUE = 4, /* "= value" may be left out */
  ZUL_CHECK_SINGLE = 8          /* ZUL_VALUE_CODES: one word only */
};

enum zul_statement_kind {
  ZUL_STMT_OPTIONS = 0,
  ZUL_STMT_VARLIST = 1,
  ZUL_STMT_BY = 2,
  ZUL_STMT_ONEVAR = 3,
  ZUL_STMT_PRIORS = 4,
  ZUL_STMT_REPEATED = 5
};

/* zul_statement.varType: what a variable list may hold. */
enum zul_var_type { ZUL_VARS_ANY = 0, ZUL_VARS_NUMERIC = 1 };

/* Data-set slots (zul_parsed.tables). */
enum zul_dataset {
  ZUL_DS_DATA = 0,
  ZUL_DS_OUT = 1,
  ZUL_DS_OUTSTAT = 2,
  ZUL_DS_TARGET = 3,
  ZUL_DS_COUNT = 4
};
/* Output data sets are opened for writing, the others for reading. */
#define ZUL_DS_IS_OUTPUT(ds) ((ds) == ZUL_DS_OUT || (ds) == ZUL_DS_OUTSTAT)

/* Variable lists (zul_parsed.lists). */
enum zul_list {
  ZUL_LIST_BY = 0,
  ZUL_LIST_VAR = 1,
  ZUL_LIST_PARTIAL = 2,
  ZUL_LIST_FREQ = 3,
  ZUL_LIST_WEIGHT = 4,
  ZUL_LIST_COUNT = 5
};

enum {
  ZUL_FLAG_BYTES = 64, /* 512 flag bits */
  ZUL_SLOT_COUNT = 128 /* value slots */
};

struct zul_keyword;

/* An enumerated word: a value of ZUL_VALUE_WORD, CODES or REQUESTS
 * options, of NUMBER/INTEGER options with words, or of a PRIORS
 * statement. */
typedef struct zul_word {
  const char *spellings;
  double code;                          /* stored in the option's slot */
  int32_t flagBit;                      /* set when the word is given; -1 none */
  int32_t setsSlot;                     /* 0: the word sets its bit only and
                                           leaves the slot as it was */
  int32_t maxParams;                    /* numbers allowed in "( )" after it */
  int32_t nOptions;
  const struct zul_keyword *options;    /* options allowed in "( )" after it */
} zul_word;

typedef struct zul_keyword {
  const char *spellings;
  int32_t kind;     /* zul_value_kind */
  int32_t flagBit;  /* set when the option is given; -1 none */
  int32_t slot;     /* value slot (ZUL_VALUE_TABLE: zul_dataset); -1 none */
  int32_t check;    /* zul_check bits */
  double min, max;  /* with ZUL_CHECK_MIN / ZUL_CHECK_MAX */
  int32_t nWords;
  const zul_word *words;
  int32_t nOptions;
  const struct zul_keyword *options; /* "( )" right after the spelling */
} zul_keyword;

typedef struct zul_statement {
  const char *spellings;
  int32_t kind;     /* zul_statement_kind */
  int32_t list;     /* zul_list (VARLIST, BY, ONEVAR) or slot (PRIORS) */
  int32_t flagBit;  /* set when the statement is present; -1 none */
  int32_t varType;  /* zul_var_type */
  int32_t nKeywords;
  const zul_keyword *keywords;
  int32_t nWords;
  const zul_word *words;
} zul_statement;

typedef struct zul_grammar {
  uint16_t format;  /* ZUL_GRAMMAR_FORMAT */
  uint16_t reserved;
  int32_t nStatements;
  const zul_statement *statements; /* [0] is the procedure statement */
} zul_grammar;

/* ------------------------------------------------------------------ */
/* The parsed-statement record (host-owned, read only by the module)   */
/* ------------------------------------------------------------------ */

/* ZUL_VALUE_CODES value: the entries in the order given, each option
 * occurrence appended. params[k] belongs to entry paramPositions[k]
 * (1-based). boundaries[i] is the number of entries given before the
 * (i+1)-th occurrence of the option (boundaries[0] = 0). */
typedef struct zul_code_list {
  int32_t count;
  int32_t nParams;
  int32_t nBoundaries;
  int32_t reserved;
  const int32_t *codes;
  const double *params;
  const int32_t *paramPositions;
  const int32_t *boundaries;
} zul_code_list;

typedef struct zul_pair {
  const char *name; /* NUL terminated */
  const char *text; /* NUL terminated */
} zul_pair;

/* A value slot: 24 bytes, a "given" byte, then the value. */
typedef struct zul_slot {
  uint8_t given;
  uint8_t kind;     /* zul_value_kind of what was stored */
  uint8_t reserved[2];
  int32_t count;    /* text length, list entries, values or pairs */
  union {
    double number;  /* numbers, integers, word codes */
    char name[8];   /* names and texts: first 8 characters, blank padded */
  } v;
  const void *data; /* text (NUL terminated), zul_code_list, doubles, pairs */
} zul_slot;

typedef struct zul_varlist {
  int32_t given;              /* the statement was present */
  int32_t count;
  const int32_t *numbers;     /* count variable numbers (from 1) of DATA= */
  const uint8_t *descending;  /* BY only: 1 when DESCENDING preceded it */
  int32_t line, column;       /* of the statement */
} zul_varlist;

/* One occurrence of a ZUL_STMT_REPEATED statement: its options' flag bits
 * and value slots, numbered as in the main record. */
typedef struct zul_occurrence {
  int32_t statement;        /* index in zul_grammar.statements */
  int32_t line, column;     /* of the statement */
  int32_t reserved;
  uint8_t flags[ZUL_FLAG_BYTES];
  zul_slot slots[ZUL_SLOT_COUNT];
} zul_occurrence;

typedef struct zul_parsed {
  struct zul_table *tables[ZUL_DS_COUNT]; /* open tables, NULL when not given */
  uint8_t tableGiven[ZUL_DS_COUNT];       /* written in the statement */
  uint8_t reserved[4];
  zul_varlist lists[ZUL_LIST_COUNT];
  uint8_t flags[ZUL_FLAG_BYTES];
  zul_slot slots[ZUL_SLOT_COUNT];
  const char *file;                       /* where the step starts */
  int32_t line, column;
  int32_t nOccurrences;                   /* of ZUL_STMT_REPEATED statements, */
  int32_t reserved2;                      /* in the order written */
  const zul_occurrence *occurrences;
} zul_parsed;

static inline int zul_flag_test(const uint8_t *flags, int bit) {
  return bit >= 0 && ((flags[bit / 8] >> (7 - bit % 8)) & 1);
}
static inline void zul_flag_set(uint8_t *flags, int bit) {
  if (bit >= 0) flags[bit / 8] = (uint8_t)(flags[bit / 8] | (1u << (7 - bit % 8)));
}

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_GRAMMAR_H */
