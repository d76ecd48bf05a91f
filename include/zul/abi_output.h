/*
 * zul/abi_output.h -- part of the C interface (zul/abi.h): the output-table
 * sink through which the module hands every printed result to the host.
 *
 * All table work is one call, service 400/1 (zul_sink_dispatch_fn in
 * zul/abi.h):
 *
 *     int32_t dispatch(void *object, int32_t operation,
 *                      int32_t nAttributes, zul_attr *attributes);
 *
 * It returns 0 on success and a negative host status on failure. The
 * module reports a negative status through 39/130 and ends the step with
 * 120, unless the status is tolerated (zul_sink_status_tolerated below).
 *
 * Objects
 *   sink     made once per step: operation 147 with ZUL_SA_KIND "manager"
 *            (object argument NULL). The handle comes back through the out
 *            attribute ZUL_SA_RESULT (kind 17, value = void ** to fill); if
 *            ZUL_SA_GRAPHICS is given too (kind 17, value = int32_t * to
 *            fill), it receives 1 when the host draws graphs, else 0.
 *            The sink lives until the step ends; the host owns it.
 *   table    operation 147 on the sink with ZUL_SA_KIND "data" or
 *            "matrix" (a "space" object is a blank line in the listing),
 *            ZUL_SA_NAME = the table name and optionally
 *            ZUL_SA_TEMPLATE = its template path (default
 *            "Stat.Factor." + name) and ZUL_SA_LABEL. The handle comes
 *            back through ZUL_SA_RESULT and stays valid until the table is
 *            published (428) or the sink closes everything (435 with
 *            ZUL_SA_CLOSE_HOW = 4).
 *   text     like a table, with ZUL_SA_KIND "text": a block of
 *            preformatted lines (a character plot), each given by 316
 *            with ZUL_SA_TEXT_ROLE "Line". It is printed in the listing as
 *            it stands and kept out of the JSON file and the HTML report.
 *
 * Table life, all on the table handle:
 *   298 open the body       338 declare a column (in display order)
 *   316 a title or footnote 388 a named number, 462 a named text
 *   358 attach a note       329 emit the prepared row
 *   299 close the body      422 finish        428 publish (and release)
 *
 * Column (338): ZUL_SA_NAME, ZUL_SA_LABEL (header text; absent = the
 * name), ZUL_SA_COLUMN_TYPE (kind 12: 5 numeric, 6 character),
 * ZUL_SA_FORMAT (text "w.d", "w.", "BESTw.", "PVALUEw.d" or "rf" = width
 * ZUL_SA_FORMAT_WIDTH with decimals chosen by the host from the column's
 * magnitude), ZUL_SA_FORMAT_WIDTH (kind 3), ZUL_SA_WIDTH (kind 3,
 * characters of a character column), ZUL_SA_COLUMN_ROLE (text:
 * "RoundFuzzVal", "Flag", "OriginalVal", "HeaderText", "NewFormat"), and
 * ZUL_SA_DATA (kind 17): the column's cell, read by every 329 -- a double
 * for a numeric column, or `second` bytes of blank padded characters for a
 * character column. The cell must stay valid until the table is published.
 * A numeric cell holding the missing double (zul/abi.h) prints empty.
 *
 * Texts (316): ZUL_SA_TEXT_ROLE ("Title", "Footnote", or "Line" in a text
 * object), ZUL_SA_TEXT, and
 * optionally ZUL_SA_NAME = the heading item the text fills ("titeval").
 * Notes (358): ZUL_SA_NAME = the note name ("EigenNote"), ZUL_SA_TEXT. On
 * a table handle the note belongs to that table; on the sink it is an item
 * of its own, printed where it occurs.
 * Named values (388 number, 462 text) on a table handle: ZUL_SA_NAME and
 * the value (kind 3, or kind 17 pointing to a double, or a text).
 *
 * Sections (on the sink): 300 with ZUL_SA_NAME and ZUL_SA_LABEL begins a
 * section inside the current one; 439 sets its options (442, 440, 148)
 * and ZUL_SA_HEADING_TEXT = the heading printed above its tables; 435
 * without ZUL_SA_CLOSE_HOW ends that definition (the section is now
 * current). Later, 435 with ZUL_SA_CLOSE_HOW = 1 closes the innermost
 * section, and with 4 publishes every table still open and closes all
 * sections (end of a BY group, clean-up).
 *
 * Graphs (on the sink): 2826 with ZUL_SA_NAME (the graph name,
 * "ScreePlot"), optionally ZUL_SA_TEMPLATE (default
 * "Stat.Factor.Graphics." + name) and ZUL_SA_LABEL, and ZUL_SA_RESULT
 * receiving the graph's handle. On that handle: 147 with ZUL_SA_KIND
 * "data" makes a data table of the graph (a table in every other way; on
 * publishing it joins the graph instead of the listing), 388 and 462 set
 * the graph's dynamic values, 316 its title, and 451 publishes the graph
 * with its data tables. A graph still open when the sink closes
 * everything is published then. 446 (and 2826 without ZUL_SA_RESULT)
 * records a graph object by name only, the frame of a character plot.
 *
 * Texts travel as kind 20 (value = const char *, second = length, -1 for
 * NUL terminated) or kind 66 (value = a host string from 329/16..18).
 */
#ifndef ZUL_ABI_OUTPUT_H
#define ZUL_ABI_OUTPUT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One attribute: 32 bytes. */
typedef struct zul_attr {
  uint16_t number; /* attribute number (ZUL_SA_...) */
  uint8_t kind;    /* value kind (ZUL_SK_...) */
  uint8_t reserved[5];
  union {
    int64_t i;
    double d;
    const void *p;
    const char *s;
  } value; /* offset 8 */
  union {
    int64_t i;
    const void *p;
  } second; /* offset 16: text length, bytes behind a data pointer */
  uint64_t spare; /* offset 24: room for a later word, zero */
} zul_attr;

/* Value kinds. */
enum zul_sink_kind {
  ZUL_SK_INTEGER = 3,  /* value.i */
  ZUL_SK_ENUM = 12,    /* small enumeration in value.i */
  ZUL_SK_ENUM2 = 13,   /* small enumeration in value.i */
  ZUL_SK_DATA = 17,    /* value.p: pointer to data; second.i its bytes */
  ZUL_SK_TEXT = 20,    /* value.s, second.i length (-1: NUL terminated) */
  ZUL_SK_HSTRING = 66  /* value.s: host string (329/16..18), NUL terminated */
};

/* Attribute numbers. */
enum zul_sink_attribute {
  ZUL_SA_TEMPLATE = 143,      /* object option: template path of a table */
  ZUL_SA_CLOSE_HOW = 144,     /* object option: 435 scope, 1 section, 4 all */
  ZUL_SA_KIND = 146,          /* object kind text: manager, data, matrix, space */
  ZUL_SA_OPTION = 148,        /* object option (section settings) */
  ZUL_SA_NAME = 138,          /* table, column, item, note or section name */
  ZUL_SA_LABEL = 296,         /* label / header text */
  ZUL_SA_TEXT = 287,          /* footnote, title or note text */
  ZUL_SA_TEXT_ROLE = 311,     /* "Footnote" or "Title" */
  ZUL_SA_COLUMN_TYPE = 103,   /* 5 numeric, 6 character */
  ZUL_SA_COLUMN_ROLE = 339,   /* RoundFuzzVal, Flag, OriginalVal, HeaderText, NewFormat */
  ZUL_SA_DATA = 285,          /* bound cell of a column, value of a named number */
  ZUL_SA_WIDTH = 289,         /* character width */
  ZUL_SA_FORMAT = 270,        /* numeric format text */
  ZUL_SA_FORMAT_WIDTH = 272,  /* numeric format width */
  ZUL_SA_HEADING_OPTION = 440,
  ZUL_SA_HEADING_LEVEL = 442,
  ZUL_SA_HEADING_TEXT = 577,
  ZUL_SA_RESULT = 600,        /* out: void ** receives a created object */
  ZUL_SA_GRAPHICS = 601       /* out: int32_t * receives graphics on (1) or off */
};

/* Column types (ZUL_SA_COLUMN_TYPE). */
enum { ZUL_COLUMN_NUMERIC = 5, ZUL_COLUMN_CHARACTER = 6 };

/* Operations. */
enum zul_sink_operation {
  ZUL_OP_CREATE = 147,
  ZUL_OP_OPEN_BODY = 298,
  ZUL_OP_CLOSE_BODY = 299,
  ZUL_OP_COLUMN = 338,
  ZUL_OP_TEXT = 316,
  ZUL_OP_EMIT_ROW = 329,
  ZUL_OP_FINISH = 422,
  ZUL_OP_PUBLISH = 428,
  ZUL_OP_SECTION = 300,
  ZUL_OP_SECTION_SET = 439,
  ZUL_OP_CLOSE = 435,
  ZUL_OP_NOTE = 358,
  ZUL_OP_NAMED_NUMBER = 388,
  ZUL_OP_NAMED_TEXT = 462,
  /* Graphs: see "Graphs" above. */
  ZUL_OP_GRAPH_BEGIN = 446,
  ZUL_OP_GRAPH_VALUE = 447,
  ZUL_OP_GRAPH_END = 451,
  ZUL_OP_GRAPH_CREATE = 2826
};

/* Statuses (negative as int32_t). */
#define ZUL_SINK_UNKNOWN_OPERATION ((int32_t)0x80008001u)
#define ZUL_SINK_BAD_OBJECT ((int32_t)0x80008002u)   /* not a live handle */
#define ZUL_SINK_BAD_REQUEST ((int32_t)0x80008003u)  /* missing or wrong attribute */
/* Tolerated: bits 11..21 hold 63 and bits 0..10 hold 53. The host returns
 * it for a request that is valid but has nothing to do (publishing a table
 * without columns); the module goes on. */
#define ZUL_SINK_NOTHING_TO_DO ((int32_t)(0x80000000u | (63u << 11) | 53u))

static inline int zul_sink_status_tolerated(int32_t status) {
  uint32_t u = (uint32_t)status;
  return ((u >> 11) & 0x7FFu) == 63u && (u & 0x7FFu) == 53u;
}

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_OUTPUT_H */
