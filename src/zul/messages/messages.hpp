// zul::messages -- the host's message file and the message services.
//
// Every numbered message (group/number) and every catalog text (0x83BFxxxx)
// that the module can issue has one line in messages.txt beside this file;
// the file is embedded into zul at build time. This header gives:
//   - lookup of an entry by group and number, or by catalog identifier;
//   - the formatter that puts tagged arguments (zul_arg) into a text;
//   - the functions behind services 39/70, 39/74, 39/75 and the toolkit
//     catalog (catalogFetch, catalogLog, catalogError), with the exact C
//     types of zul/abi.h, so that the services table can store them;
//   - the log writer through which all of them write.
//
// Text syntax (see the head of messages.txt):
//   %1 .. %9    the arguments in order
//   %%          a percent sign
//   %[ ... %]   an optional part: printed only when every argument named
//               inside it was given and is not empty
// An argument and the BY group are put in as printableLine() gives them,
// so that a value from the data cannot break the message's line.
// Integers print in decimal, doubles in the shortest form that keeps six
// significant digits (1, 0.75, 1.23457E6), the host's missing value as ".",
// texts without their trailing blanks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "zul/abi.h"

namespace zul::messages {

enum class Severity : uint8_t { None, Note, Warning, Error };

// Group of the catalog texts in the entry table.
inline constexpr int kCatalogGroup = -1;

struct Entry {
  int group;          // 0..999, or kCatalogGroup
  uint32_t number;    // message number, or the catalog identifier
  Severity severity;  // None for titles, labels and text lines; the
                      // severity of a catalog text is its %Nz prefix
  std::string_view args;  // documented argument names, comma separated
  std::string_view text;
  int line;           // line in messages.txt
};

// Every entry of the message file, in file order.
std::span<const Entry> entries();
// Lines of the message file that could not be read, or that repeat a
// number, as "line N: why". Empty for a sound file.
std::span<const std::string> fileProblems();
// nullptr when the file has no such entry.
const Entry* find(int group, int number);
const Entry* findCatalog(uint32_t id);

// Number of arguments that `text` refers to (its largest %n), and the
// number it needs at least (the largest %n outside optional parts).
int argumentCount(std::string_view text);
int requiredArgumentCount(std::string_view text);

std::string formatArgument(const zul_arg& arg);
// Puts the arguments into text. A leading catalog prefix (%1z, %2z, %3z)
// is kept as it is. A reference to an argument that was not given prints
// as "?" outside optional parts.
std::string format(std::string_view text, const zul_arg* args, int nArgs);

// "NOTE:", "WARNING:", "ERROR:" for zul_log_level 2, 3, 4; "" otherwise.
std::string_view severityWord(int level);

// The BY group the step is analysing ("g=1 h=a"; empty without BY
// variables or between steps): a message text writes it with %G, which
// gives " in the BY group g=1 h=a", or nothing without one.
void setByGroup(std::string description);

// Where the running step wrote an option ("ROTATE=") or a statement
// ("PRIORS"), as "file:line:column" (empty when unknown): a message text
// that concerns one writes %@{ROTATE=} or %@{%1=} first, which gives
// "file:line:column: " during a step and nothing otherwise. Empty between
// steps.
void setLocator(std::function<std::string(const std::string&)> locate);

// Text as it may be written to the log, the listing and the reports (all
// UTF-8): a byte that is not part of a valid UTF-8 sequence, and a control
// character other than tab and line feed (NUL among them), is written as
// \xNN; everything else is kept. Text from data files reaches the outputs
// only through this.
std::string printable(std::string_view text);
// The same for a text shown on one line of its own (a BY value, a name, a
// table cell): tab and line feed are written as \x09 and \x0A too, so
// that they cannot break the line or the columns of a listing.
std::string printableLine(std::string_view text);
// "1 row", "3 rows": a count and its noun, for a message or a description.
std::string counted(long long n, std::string_view noun);
int levelOf(Severity severity);

// The log. The host installs its writer once; without one, lines go to
// standard error. A line is complete (severity word included, no newline);
// the writer returns false when it could not write.
using LogWriter = std::function<bool(int level, std::string_view line)>;
void setLogWriter(LogWriter writer);
// Writes text at a level: the severity word of the level in front of the
// first line, continuation lines indented to match. false on failure.
bool writeLog(int level, std::string_view text);
// The same for a text that is one line by nature (an error sentence, a
// diagnostic, an echoed statement): it is written as printableLine() gives
// it, so that a name or value in it cannot start a line of its own.
bool writeLogLine(int level, std::string_view text);

// ---- service functions (C types of zul/abi.h) ----

// 39/70: prints the message with its severity word. A number without a
// text prints a warning that names it and its arguments.
void message(int32_t group, int32_t number, const zul_arg* args, int32_t nArgs);
// 39/74: copies the unformatted text; returns its full length, or
// kNoSuchMessage.
int32_t messageText(char* buffer, int32_t size, int32_t group, int32_t number);
// 39/75: copies the formatted text; returns its full length, or
// kNoSuchMessage.
int32_t messageFormat(char* buffer, int32_t size, int32_t group, int32_t number,
                      const zul_arg* args, int32_t nArgs);
// Toolkit catalog: formats the text of id (prefix kept) into buffer, cut to
// size - 1 characters and NUL terminated; returns the full length, so that
// a caller whose buffer was too small can fetch again with a larger one.
int32_t catalogFetch(uint32_t id, const zul_arg* args, int32_t nArgs, char* buffer,
                     int32_t size);
// Toolkit catalog: writes an already formatted text (prefix removed) at a
// level; 0, or kLogWriteFailed.
int32_t catalogLog(int32_t level, const char* text, int32_t length);
// Toolkit catalog error routine: kind 3 fetch error, kind 4 write error.
void catalogError(int32_t kind, int32_t status);

// Statuses returned by the services above.
inline constexpr int32_t kNoSuchMessage = -1;
inline constexpr int32_t kLogWriteFailed = -2;

// C++ convenience for the host itself: the formatted text of a numbered
// message; empty with found = false when the file has none.
std::string text(int group, int number, const zul_arg* args = nullptr, int nArgs = 0,
                 bool* found = nullptr);

}  // namespace zul::messages
