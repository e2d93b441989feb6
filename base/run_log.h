#pragma once
// The run log: one appended line per noteworthy event, in the data folder's run.log.

#include <cstdarg>

namespace kestrelle {

namespace RunLog {

// Appends "<time>\t<tick count>\t<source>,<line>|<message>\r\n". The source is the last component of
// `sourcePath` (after the last '/' or '\'). Returns 0 when written, -1 for a negative level or a file
// that cannot be opened. Safe to call from any thread.
int write(int level, const char* sourcePath, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
int writeV(int level, const char* sourcePath, int line, const char* format, va_list args)
    __attribute__((format(printf, 4, 0)));

}  // namespace RunLog

}  // namespace kestrelle

// Logs with the calling file's own name as the source.
#define KESTRELLE_LOG(level, ...) ::kestrelle::RunLog::write((level), __FILE__, __LINE__, __VA_ARGS__)
// Logs under an explicit source name (for code that logs on behalf of a window or module).
#define KESTRELLE_LOG_AS(source, level, ...) \
    ::kestrelle::RunLog::write((level), (source), __LINE__, __VA_ARGS__)
