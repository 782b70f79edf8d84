// One number as `stream >> double` reads it, without a stream.
#pragma once

// Scans one value at p exactly as `stream >> double` does after skipping
// whitespace. Returns the end of the text taken, or nullptr when the
// extraction fails (no number there, or one too large for a double).
const char* scan_value(const char* p, const char* end, double& value);

// For text where scan_value fails: the end of the number at p when it is one
// too large for a double (such as 1e400 or -1e309), nullptr otherwise.
const char* out_of_range(const char* p, const char* end);
