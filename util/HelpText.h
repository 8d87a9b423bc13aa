#pragma once
// The text printed for `help` and for a call without arguments: every line
// ends with a line feed.
extern const char* const kVelmarUtilHelpText;
