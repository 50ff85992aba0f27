// The first block of a server's answer: the status line, the header's end
// and its Content-Length, and the line a failed answer leaves in the
// status report. The input is the block as received.
#include "fuzz.h"
#include "transfer/request.h"
#include "transfer/response.h"
#include "transfer/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // One receive fills at most the client's buffer; the block is copied
    // into one of exactly that fill, since the reader promises never to
    // look past it.
    unsigned fill = unsigned(size < TransferBufferSize ? size : TransferBufferSize);
    std::unique_ptr<unsigned char[]> block(new unsigned char[fill ? fill : 1]);
    std::memcpy(block.get(), data, fill);

    ResponseStart start;
    std::memset(&start, 0x5A, sizeof start);
    ReadResponseStart(block.get(), fill, &start);
    FUZZ_CHECK(start.Body <= fill && start.HeaderEnd <= fill);
    if (!start.Examined) {
        FUZZ_CHECK(!start.Success && !start.LengthKnown && !start.HeaderEnd);
        return 0;
    }
    FUZZ_CHECK(!start.HeaderEnd || start.HeaderEnd > start.StatusCode);
    FUZZ_CHECK(start.StatusCode < fill);
    unsigned char code = block[start.StatusCode];
    FUZZ_CHECK(code != ' ' && code != '\t');
    if (start.Success) {
        FUZZ_CHECK(code == '2' && start.Body > start.StatusCode && start.Body == start.HeaderEnd);
    } else {
        FUZZ_CHECK(start.Body == start.StatusCode && !start.LengthKnown);
    }

    // The report's room as the cursor leaves it: anything from one byte to
    // a whole diagnostics report, taken from the block so that it varies.
    unsigned sum = 0;
    for (unsigned i = 0; i < fill; ++i)
        sum = sum * 31 + block[i];
    int diagnostics = sum & 1;
    unsigned room = 1 + (sum >> 1) % (diagnostics ? DiagnosticsReportSize : ReportSize);
    std::unique_ptr<char[]> report(new char[room]);
    unsigned length = WriteServerText(report.get(), room, diagnostics, block.get(), fill, &start);
    FUZZ_CHECK(length < room && report[length] == 0);
    FUZZ_CHECK(length <= ServerTextLimit + 2);
    FUZZ_CHECK(std::strlen(report.get()) == length);
    const char *prefix = diagnostics ? "ServerError=" : "\r\n\r\n";
    if (room > ServerTextLimit + 3)
        FUZZ_CHECK(std::strncmp(report.get(), prefix, std::strlen(prefix)) == 0);
    return 0;
}
