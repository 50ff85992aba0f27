// Filling a message text's "%s" placeholders. Pure.
#pragma once

// Copies format into out (capacity bytes, always terminated, cut to fit),
// replacing each "%s" with the next of the count arguments, or with nothing
// once they are used up, and "%%" with "%". Any other '%' is copied as it
// stands, so a package's own text can never make it read past its arguments.
void FormatMessageText(char *out, unsigned capacity, const char *format,
                       const char *const *arguments, unsigned count);
