// The start of a server's answer as the socket client reads it from its
// first block: the status code, whether it is a success, and where the
// body begins. Pure: no Windows headers.
#pragma once

enum { ServerTextLimit = 250 }; // characters of server text in a report line

struct ResponseStart {
    int Examined;        // the block holds a status code
    int Success;         // it begins with '2', the header ends in the block and
                         // announces no transfer coding but "identity"
    unsigned StatusCode; // offset of the status code
    unsigned Body;       // offset of the body: after the header on success,
                         // else the status code, so the whole answer is kept
    unsigned HeaderEnd;  // offset after the header, whatever the status; 0
                         // when the header does not end within the block
    int LengthKnown;     // a success whose header announces Content-Length
    unsigned ContentLength; // 0xFFFFFFFF for that length or any above it
};

// Reads the first block of an answer, fill bytes: the first word (the
// protocol), the blanks after it, the status code, and for a success the
// end of the header (CR LF CR LF, LF LF or CR CR), its Transfer-Encoding
// and the Content-Length it announces, if any. A 2xx answer whose body
// comes in another coding (as "chunked") is no success: its framing would
// end up in the file. Never looks past fill.
void ReadResponseStart(const unsigned char *block, unsigned fill, ResponseStart *start);

// Writes at report (room bytes, always terminated) the line a failed answer
// leaves in the status report: "ServerError=" and the status text, then
// CR LF, in diagnostics; CR LF CR LF and the status text otherwise. The
// status text runs from the status code to the first NUL, CR or LF, or
// the end of the block, and is cut so that the line, prefix included,
// holds at most ServerTextLimit characters before its CR LF. Returns the
// length written.
unsigned WriteServerText(char *report, unsigned room, int diagnostics,
                         const unsigned char *block, unsigned fill, const ResponseStart *start);
