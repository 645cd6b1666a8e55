#pragma once

#include <QString>

// What the exception being handled says, for a log line: its what() text, or
// "unknown exception" for one that is not a std::exception. Call only inside a catch.
QString CurrentExceptionText();
