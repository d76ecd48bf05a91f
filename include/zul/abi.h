/*
 * zul/abi.h -- the C interface between the host program zul, the procedure
 * module libzulfact.so and the numeric engine libqkxfac.so.
 *
 * This header (with the three it includes) is the only thing the three
 * binaries share. It is plain C so that any of them could be written in
 * another language; tests/abi checks the layouts from a C file.
 *
 * The module reaches the host through a service vector: an array of
 * pointer-sized words handed to mcn_main().
 *   word 0   ZUL_SV_GROUPS   zul_fn const *const *: the table of service
 *                            groups, indexed by group number; each group is
 *                            an array of function pointers indexed by slot
 *                            (NULL where a group or slot is not provided)
 *   word 1   ZUL_SV_USED     uint8_t *: one byte per group, set to 1 by the
 *                            module before each call into that group (from
 *                            any thread: read and written atomically)
 *   word 4   ZUL_SV_POOL     const zul_pool *: the step's memory pool
 *   word 82  ZUL_SV_TOOLKIT  const zul_toolkit *: message catalog and the
 *                            extension loader
 * A service is named group/slot. Its C type is the typedef whose name is
 * given beside its number below; call it through zul_service() only.
 */
#ifndef ZUL_ABI_H
#define ZUL_ABI_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZUL_EXPORT __attribute__((visibility("default")))

/* ------------------------------------------------------------------ */
/* Values                                                              */
/* ------------------------------------------------------------------ */

/* The host's missing double. Any double whose exponent bits are all ones
 * counts as missing (test with zul_is_missing). */
#define ZUL_MISSING_BITS 0xFFFFD10000000000ULL

static inline double zul_missing(void) {
  union { uint64_t u; double d; } v;
  v.u = ZUL_MISSING_BITS;
  return v.d;
}
static inline int zul_is_missing(double x) {
  union { double d; uint64_t u; } v;
  v.d = x;
  return (v.u & 0x7FF0000000000000ULL) == 0x7FF0000000000000ULL;
}

/* A tagged argument of a numbered or catalog message. Texts need not be
 * NUL terminated; length -1 means "up to the NUL". */
enum zul_arg_kind { ZUL_ARG_INT = 1, ZUL_ARG_DOUBLE = 2, ZUL_ARG_TEXT = 3 };
typedef struct zul_arg {
  int32_t kind;   /* zul_arg_kind */
  int32_t length; /* texts only */
  union {
    int64_t i;
    double d;
    const char *text;
  } v;
} zul_arg; /* 16 bytes */

/* Log levels of log lines (catalog prefixes "%3z" note, "%2z" warning,
 * "%1z" error map to 2, 3, 4). */
enum zul_log_level {
  ZUL_LOG_PLAIN = 0, ZUL_LOG_NOTE = 2, ZUL_LOG_WARNING = 3, ZUL_LOG_ERROR = 4
};

/* ------------------------------------------------------------------ */
/* Service vector                                                      */
/* ------------------------------------------------------------------ */

typedef void (*zul_fn)(void);

enum {
  ZUL_SV_GROUPS = 0,
  ZUL_SV_USED = 1,
  ZUL_SV_POOL = 4,
  ZUL_SV_TOOLKIT = 82,
  ZUL_SV_WORDS = 96,   /* length of the vector */
  ZUL_GROUP_COUNT = 512 /* entries of the group table and of the used bytes */
};

/* Looks a service up; NULL when the host does not provide it. */
static inline zul_fn zul_service(void *const *sv, int group, int slot) {
  zul_fn const *const *groups = (zul_fn const *const *)sv[ZUL_SV_GROUPS];
  uint8_t *used = (uint8_t *)sv[ZUL_SV_USED];
  if (!groups || group < 0 || group >= ZUL_GROUP_COUNT || !groups[group]) return 0;
  /* Worker threads look services up too: the byte is read and set
     atomically, and written only once, so that threads neither race on it
     nor keep its cache line moving between cores. */
  if (used && !__atomic_load_n(&used[group], __ATOMIC_RELAXED))
    __atomic_store_n(&used[group], 1, __ATOMIC_RELAXED);
  return groups[group][slot];
}

/* Opaque host objects. */
typedef struct zul_table zul_table;       /* an open input or output table */
typedef struct zul_readlist zul_readlist; /* bound variables of an input */
typedef struct zul_thread zul_thread;
typedef struct zul_event zul_event;

/* ---- group 39: step control, messages, options ---- */

/* 39/4 end step: records the step's completion code (the higher one when
 * called again) and runs the clean-up handler, then returns; the module
 * returns from its procedure entry right after it. */
typedef void (*zul_end_step_fn)(int32_t completionCode, int32_t second);
/* 39/130 status report: prints the host's text for a host status. */
typedef void (*zul_status_report_fn)(int32_t zero, int32_t status);
/* 39/120 termination callback: routine runs if the step is abandoned;
 * *cell is a host-owned slot of the step that the module may use (it
 * stores its ProcState address there). */
typedef void (*zul_termination_fn)(void (*routine)(void), void **cell);
/* 39/121 step slot: the address of host-owned slot index (0 .. 7) of the
 * current step, cleared when the step starts. Slot 0 holds the ProcState
 * address, 1 the start-up debug block, 2 the message-text store. */
typedef void **(*zul_step_slot_fn)(int32_t index);
enum { ZUL_SLOT_PROCSTATE = 0, ZUL_SLOT_DEBUG = 1, ZUL_SLOT_MESSAGES = 2, ZUL_STEP_SLOTS = 8 };
/* 39/70 numbered message. */
typedef void (*zul_message_fn)(int32_t group, int32_t number,
                               const zul_arg *args, int32_t nArgs);
/* 39/74 message text: copies the unformatted text (at most size - 1 bytes
 * and a NUL) and returns its full length, or a negative host status when
 * the message file has no such text. */
typedef int32_t (*zul_message_text_fn)(char *buffer, int32_t size,
                                       int32_t group, int32_t number);
/* 39/75 formatted message: the text of group/number with its arguments
 * put in (as 39/70 would print it, without the severity word), copied as
 * 39/74 copies; returns the full length or a negative host status. */
typedef int32_t (*zul_message_format_fn)(char *buffer, int32_t size, int32_t group,
                                         int32_t number, const zul_arg *args,
                                         int32_t nArgs);
/* 39/56 system option: copies the value (NUL terminated, cut to size - 1)
 * and returns its length, or -1 when the option is not set. */
typedef int32_t (*zul_system_option_fn)(const char *name, int32_t nameLength,
                                        char *buffer, int32_t size);
/* 39/89 log line at a level (zul_log_level); text of length bytes. */
typedef void (*zul_log_line_fn)(int32_t level, const char *text, int32_t length);
/* 39/191 name from prefix and number, 39/193 name check-and-cut: write a
 * valid variable name of at most width characters into out (NUL
 * terminated, out has width + 1 bytes) and return its length. */
typedef int32_t (*zul_name_from_prefix_fn)(const char *prefix, int32_t prefixLength,
                                           int32_t number, int32_t width, char *out);
typedef int32_t (*zul_name_fit_fn)(const char *name, int32_t length,
                                   int32_t width, char *out);

/* ---- group 206: raw log text ---- */
/* 206/6 log text, printed as is (no prefix, no formatting). */
typedef void (*zul_log_text_fn)(const char *text, int32_t length);

/* ---- group 329: host strings for output-table attributes ---- */
/* 329/16 from a message (group, number); 329/17 the same with one
 * argument; 329/18 from characters. The string lives until the step ends. */
typedef const char *(*zul_hstring_msg_fn)(int32_t group, int32_t number);
typedef const char *(*zul_hstring_msg1_fn)(int32_t group, int32_t number,
                                           const zul_arg *arg);
typedef const char *(*zul_hstring_chars_fn)(const char *text, int32_t length);

/* ---- group 212: tables ---- */

/* Table attributes for 212/50. Getters write into cell: */
enum zul_table_attr {
  ZUL_ATTR_LIBRARY = 1,      /* char[33]: library name, NUL terminated */
  ZUL_ATTR_MEMBER = 2,       /* char[33]: member (table) name */
  ZUL_ATTR_BYDESC = 11,      /* char[256]: "a=1 b=x" description of the BY group */
  ZUL_ATTR_TYPE = 13,        /* char[9]: TYPE, 8 characters blank padded */
  ZUL_ATTR_CURRENT_REF = 18, /* zul_table*: current-record reference */
  ZUL_ATTR_SET_TYPE = 21,    /* set: const char* TYPE */
  ZUL_ATTR_SET_LABEL = 22,   /* set: const char* label */
  ZUL_ATTR_READABLE = 23,    /* int32_t: 1 when the table can be read */
  ZUL_ATTR_TYPE_TEXT = 24,   /* char[256]: TYPE whole, NUL terminated (cut to 255 bytes) */
  ZUL_ATTR_RECORD_LINE = 25, /* int64_t: line of the current record in its file, 0 without */
  ZUL_ATTR_DISPLAY_NAME = 26, /* char[256]: the table as messages name it: LIB.MEMBER, or the
                                 path of a quoted one (cut to 255 bytes) */
  ZUL_ATTR_SET_NO_RESULT = 27, /* set: no row of this output holds a result of the step (every
                                  BY group failed): it is not written, as a table without rows;
                                  the value is ignored */
  ZUL_ATTR_BYDESC_TARGET = 166 /* char[256]: BY description, other wording */
};
/* 212/4 next BY group: 1 or more while a group is left, 0 at the end,
 * negative on a read error (the host has printed why). Without BY
 * variables the whole table is one group. */
typedef int32_t (*zul_next_by_group_fn)(zul_table *input);
/* 212/6 compare the current BY groups of input and target: 0 same,
 * 1 target has no such group (skip), 2 mismatch that ends the step. */
typedef int32_t (*zul_by_compare_fn)(zul_table *input, zul_table *target);
/* 212/5 list the BY values of a table (code 70). */
typedef void (*zul_by_list_fn)(zul_table *table, int32_t code);
/* 212/47 synchronisation mode of input against target BY variables:
 * 0 same BY variables, 1 target lacks them, 2 target has none. */
typedef int32_t (*zul_by_sync_mode_fn)(zul_table *input, zul_table *target);
/* 212/50 attribute get or set; 0 on success, else a host status. */
typedef int32_t (*zul_attribute_fn)(zul_table *table, int32_t attribute, void *cell);
/* 212/59 number of variables; 212/60 a variable's number (from 1), 0 when
 * absent; names compare without regard to case. */
typedef int32_t (*zul_var_count_fn)(zul_table *table);
typedef int32_t (*zul_var_number_fn)(zul_table *table, const char *name, int32_t length);

/* Read lists. 212/63 creates a list of count slots; 212/61 binds slot
 * (from 0) to variable number varNumber, numeric or character of the
 * given width (numeric slots go to values[], character ones to
 * text + offset, blank padded, offset = sum of the widths of the earlier
 * character slots); 212/62 releases the list. */
typedef zul_readlist *(*zul_readlist_create_fn)(zul_table *table, int32_t count);
typedef int32_t (*zul_readlist_bind_fn)(zul_readlist *list, int32_t slot,
                                        int32_t varNumber, int32_t isCharacter,
                                        int32_t width);
typedef void (*zul_readlist_release_fn)(zul_readlist *list);
/* 212/26 reads the next record of the current BY group into the bound
 * slots. Returns 1 with a record, 0 without; *status is 0 or ZUL_READ_REMARK
 * (a record with a remark) when all is well, any other value is a read error
 * (the host has printed why). */
#define ZUL_READ_REMARK 2049 /* a record read with a remark: not an error */
typedef int32_t (*zul_read_next_fn)(zul_readlist *list, double *values,
                                    char *text, int32_t *status);

/* Output columns, declared in order. */
typedef struct zul_column_desc {
  const char *name;  /* NUL terminated */
  const char *label; /* NUL terminated, or NULL */
  int32_t isCharacter;
  int32_t width;     /* bytes for character columns; 8 for numeric */
} zul_column_desc;
/* 212/66 declare a column of an output table; 0 or a host status. */
typedef int32_t (*zul_declare_column_fn)(zul_table *out, const zul_column_desc *column);
/* 212/71 copy the BY-variable definitions of input into out, filled on
 * each append from the input's current record; 212/69 the same for every
 * variable of input (OUT=). Both declare columns at the current place. */
typedef int32_t (*zul_copy_by_columns_fn)(zul_table *out, zul_table *input);
typedef int32_t (*zul_copy_all_columns_fn)(zul_table *out, zul_table *input);
/* 212/70 end of the column declarations. */
typedef int32_t (*zul_columns_done_fn)(zul_table *out);
/* 212/28 appends one row. values[i] and texts[i] belong to the i-th
 * column declared with 212/66 (texts may be NULL when no character column
 * was declared; a text is blank padded to its width, not NUL terminated).
 * Copied columns are filled by the host. 0, ZUL_STATUS_LOGGED when the row
 * could not be written (a full disk, a file-size limit, a database error:
 * the host has logged why, so reporting the status adds nothing), or
 * another host status. */
#define ZUL_STATUS_LOGGED 6
typedef int32_t (*zul_append_row_fn)(zul_table *out, const double *values,
                                     const char *const *texts);

/* ---- group 48: variable descriptions and the work file ---- */

typedef struct zul_var_desc {
  char name[33];   /* NUL terminated */
  char label[257]; /* NUL terminated, empty when none */
  int32_t type;    /* 1 numeric, 2 character */
  int32_t width;   /* bytes */
  /* Display format: name ("" for w.d, "$" for a character format), width
   * and decimals; formatWidth 0 when the variable has none. */
  char formatName[33];
  int32_t formatWidth;
  int32_t formatDecimals;
} zul_var_desc;
/* 48/42 description of variable number (from 1); 0 or a host status. */
typedef int32_t (*zul_var_desc_fn)(zul_table *table, int32_t number, zul_var_desc *out);

/* The work file (save area): records addressed by keys. The descriptor is
 * a 256-byte record that the module zeroes, sets flags in, and the host
 * fills on open. All return 0 or a host status. */
typedef struct zul_workfile {
  uint32_t flags;   /* 0x84000008 */
  uint32_t reserved0;
  void *host;       /* the host's state, set by open */
  int64_t position; /* key of the current record */
  uint8_t reserved[232];
} zul_workfile;
typedef int32_t (*zul_wf_open_fn)(zul_workfile *file);                 /* 48/7 */
typedef int32_t (*zul_wf_position_fn)(zul_workfile *file, int64_t key); /* 48/8 */
/* 48/9 appends a new record holding bytes and returns its key. */
typedef int32_t (*zul_wf_write_fn)(zul_workfile *file, const void *buffer,
                                   int64_t bytes, int64_t *key);
/* 48/11 reads bytes of the record at the current position. */
typedef int32_t (*zul_wf_read_fn)(zul_workfile *file, void *buffer, int64_t bytes);
typedef int32_t (*zul_wf_close_fn)(zul_workfile *file, int32_t how);    /* 48/3 */

/* ---- group 40: statement parsing ---- */
/* 40/249 parse the current step's statements with the module's grammar
 * (zul/abi_grammar.h). Fills *out with a host-owned parsed-statement
 * record that lives until the step ends. Returns a 16-bit status: 0, or
 * the completion code that ends the step (syntax errors were printed). */
struct zul_grammar;
struct zul_parsed;
typedef int32_t (*zul_parse_fn)(const struct zul_grammar *grammar, uint32_t debugFlags,
                                const struct zul_parsed **out);

/* ---- group 400: further host services ---- */

/* 400/1 output-table sink dispatch (zul/abi_output.h). */
struct zul_attr;
typedef int32_t (*zul_sink_dispatch_fn)(void *object, int32_t operation,
                                        int32_t nAttributes, struct zul_attr *attributes);
/* 400/2 sweep pivot of the packed symmetric matrix of the given order.
 * The pivot is swept and flags[pivot] set to '1', or left with '0' when
 * a[pivot,pivot] < singular * scale[pivot]^2 (too small relative to the
 * variable's scale). Returns 0. A pivot that is zero, negative or not a
 * number is never swept; a pivot whose flag is '1' is swept back (the
 * reverse sweep) and its flag set to '0'. Sweep convention: a[k,k] <-
 * -1/d, a[i,k] <- a[i,k]/d, a[i,j] <- a[i,j] - a[i,k]a[k,j]/d, so a[i,k]
 * (i not swept) is the regression weight of k in the prediction of i. */
typedef int32_t (*zul_sweep_fn)(double *packed, int32_t pivot, int32_t order,
                                char *flags, const double *scale, double singular);
/* 400/4 rewind: the current BY group is read again from its first row
 * (code 0x42). 0 or a host status. */
typedef int32_t (*zul_rewind_fn)(zul_table *input, int32_t code);
/* 400/5 named numeric setting (OPTIONS SET name=value): value or missing. */
typedef double (*zul_named_setting_fn)(const char *name);
/* 400/6 diagnostic switch ("-zacorr" ...): level, 0 when off. */
typedef int32_t (*zul_diag_switch_fn)(const char *name);
/* 400/7 available memory in units of 1000 bytes; negative when unknown. */
typedef double (*zul_available_memory_fn)(void);
/* 400/8..14 threads and events. */
typedef zul_thread *(*zul_thread_create_fn)(void (*start)(void *), void *arg);
typedef void (*zul_thread_join_fn)(zul_thread *thread);
typedef zul_event *(*zul_event_create_fn)(void);
typedef void (*zul_event_set_fn)(zul_event *event);
typedef void (*zul_event_reset_fn)(zul_event *event);
/* Waits until one of the events is set; returns its index, or -1 when the
 * wait failed. The event is left set. */
typedef int32_t (*zul_event_wait_any_fn)(zul_event *const *events, int32_t count);
typedef void (*zul_event_destroy_fn)(zul_event *event);
/* 400/15 name check of a _NAME_ value: 0 ordinary name, 1 skip the row
 * with a one-time warning, 2 unusable. */
typedef int32_t (*zul_name_check_fn)(const char *value, int32_t length);
/* 400/16 macro variable set. */
typedef void (*zul_macro_set_fn)(const char *name, const char *value);
/* 400/17 host clock: seconds since 1970 with fractions. */
typedef double (*zul_clock_fn)(void);
/* 400/18 threaded-read mode of a table on (1) or off (0). */
typedef void (*zul_threaded_read_fn)(zul_table *table, int32_t on);
/* 400/19 reads up to maxRecords records of the current BY group, as 212/26
 * would one by one, into values: record k at values + k * m, where m is
 * the number of numeric slots (the list must have no character slots).
 * Returns the number of records read, 0 at the end of the group. *status
 * is 0, or ZUL_READ_REMARK when a record read had a remark; any other value is a
 * read error after the records returned (the host has printed why). */
typedef int32_t (*zul_read_records_fn)(zul_readlist *list, double *values,
                                       int32_t maxRecords, int32_t *status);

/* ---- service numbers ---- */
#define ZUL_SVC(group, slot) ((group) * 1000 + (slot))
enum zul_service_id {
  ZUL_END_STEP = ZUL_SVC(39, 4),
  ZUL_STATUS_REPORT = ZUL_SVC(39, 130),
  ZUL_TERMINATION = ZUL_SVC(39, 120),
  ZUL_STEP_SLOT = ZUL_SVC(39, 121),
  ZUL_MESSAGE = ZUL_SVC(39, 70),
  ZUL_MESSAGE_TEXT = ZUL_SVC(39, 74),
  ZUL_MESSAGE_FORMAT = ZUL_SVC(39, 75),
  ZUL_SYSTEM_OPTION = ZUL_SVC(39, 56),
  ZUL_LOG_LINE = ZUL_SVC(39, 89),
  ZUL_NAME_FROM_PREFIX = ZUL_SVC(39, 191),
  ZUL_NAME_FIT = ZUL_SVC(39, 193),
  ZUL_LOG_TEXT = ZUL_SVC(206, 6),
  ZUL_HSTRING_MSG = ZUL_SVC(329, 16),
  ZUL_HSTRING_MSG1 = ZUL_SVC(329, 17),
  ZUL_HSTRING_CHARS = ZUL_SVC(329, 18),
  ZUL_NEXT_BY_GROUP = ZUL_SVC(212, 4),
  ZUL_BY_COMPARE = ZUL_SVC(212, 6),
  ZUL_BY_LIST = ZUL_SVC(212, 5),
  ZUL_BY_SYNC_MODE = ZUL_SVC(212, 47),
  ZUL_ATTRIBUTE = ZUL_SVC(212, 50),
  ZUL_VAR_COUNT = ZUL_SVC(212, 59),
  ZUL_VAR_NUMBER = ZUL_SVC(212, 60),
  ZUL_READLIST_CREATE = ZUL_SVC(212, 63),
  ZUL_READLIST_BIND = ZUL_SVC(212, 61),
  ZUL_READLIST_RELEASE = ZUL_SVC(212, 62),
  ZUL_READ_NEXT = ZUL_SVC(212, 26),
  ZUL_DECLARE_COLUMN = ZUL_SVC(212, 66),
  ZUL_COPY_BY_COLUMNS = ZUL_SVC(212, 71),
  ZUL_COPY_ALL_COLUMNS = ZUL_SVC(212, 69),
  ZUL_COLUMNS_DONE = ZUL_SVC(212, 70),
  ZUL_APPEND_ROW = ZUL_SVC(212, 28),
  ZUL_VAR_DESC = ZUL_SVC(48, 42),
  ZUL_WF_OPEN = ZUL_SVC(48, 7),
  ZUL_WF_POSITION = ZUL_SVC(48, 8),
  ZUL_WF_WRITE = ZUL_SVC(48, 9),
  ZUL_WF_READ = ZUL_SVC(48, 11),
  ZUL_WF_CLOSE = ZUL_SVC(48, 3),
  ZUL_PARSE = ZUL_SVC(40, 249),
  ZUL_SINK_DISPATCH = ZUL_SVC(400, 1),
  ZUL_SWEEP = ZUL_SVC(400, 2),
  ZUL_REWIND = ZUL_SVC(400, 4),
  ZUL_NAMED_SETTING = ZUL_SVC(400, 5),
  ZUL_DIAG_SWITCH = ZUL_SVC(400, 6),
  ZUL_AVAILABLE_MEMORY = ZUL_SVC(400, 7),
  ZUL_THREAD_CREATE = ZUL_SVC(400, 8),
  ZUL_THREAD_JOIN = ZUL_SVC(400, 9),
  ZUL_EVENT_CREATE = ZUL_SVC(400, 10),
  ZUL_EVENT_SET = ZUL_SVC(400, 11),
  ZUL_EVENT_RESET = ZUL_SVC(400, 12),
  ZUL_EVENT_WAIT_ANY = ZUL_SVC(400, 13),
  ZUL_EVENT_DESTROY = ZUL_SVC(400, 14),
  ZUL_NAME_CHECK = ZUL_SVC(400, 15),
  ZUL_MACRO_SET = ZUL_SVC(400, 16),
  ZUL_CLOCK = ZUL_SVC(400, 17),
  ZUL_THREADED_READ = ZUL_SVC(400, 18),
  ZUL_READ_RECORDS = ZUL_SVC(400, 19)
};
/* Largest slot used in any group plus one: each group array has at least
 * this many entries. */
enum { ZUL_SLOTS_PER_GROUP = 256 };

/* ------------------------------------------------------------------ */
/* Memory pool (word 4) and toolkit (word 82)                          */
/* ------------------------------------------------------------------ */

/* Pool flags: 0x3006 zeroed long-lived block, 0x2004 plain, 8196 (0x2004)
 * and 8192 temporary. Requests of 2,147,483,647 bytes or more fail. */
typedef struct zul_pool {
  void *(*alloc)(size_t bytes, uint32_t flags);        /* slot 0: NULL on failure */
  void (*release)(void *block, int32_t zero, int32_t four); /* slot 1 */
} zul_pool;

typedef struct zul_extension zul_extension;
typedef struct zul_toolkit {
  /* Catalog message: formats the text of id (0x83BFxxxx) with its
   * arguments into buffer (NUL terminated, cut to size - 1) and returns
   * the full length; negative when the catalog has no such text. The
   * text may begin with a severity prefix "%1z", "%2z" or "%3z". */
  int32_t (*catalogFetch)(uint32_t id, const zul_arg *args, int32_t nArgs,
                          char *buffer, int32_t size);
  /* Catalog error routine: kind 3 fetch error, kind 4 write error. */
  void (*catalogError)(int32_t kind, int32_t status);
  /* Writes a formatted catalog text to the log at a level; 0 or status. */
  int32_t (*catalogLog)(int32_t level, const char *text, int32_t length);
  /* Print service (39/97): text that is not for the log. */
  void (*print)(const char *text, int32_t length);
  /* Extension loader: name is the 6-character wide name ("qkxfac"). */
  zul_extension *(*loadExtension)(const wchar_t *name);
  void *(*extensionSymbol)(zul_extension *extension, const char *symbol);
  void (*releaseExtension)(zul_extension *extension);
} zul_toolkit;

#ifdef __cplusplus
}
#endif

#include "zul/abi_grammar.h"
#include "zul/abi_output.h"
#include "zul/abi_engine.h"
#include "zul/abi_image.h"
#include "zul/abi_indb.h"

#endif /* ZUL_ABI_H */
