// The telnet byte stream through the terminal model, in the pieces the socket delivers it.
#include "telnet/vtscreen.h"

#include "fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    VtScreen screen(VtScreen::kDefaultRows, 40, 20);
    qsizetype at = 0;
    int round = 0;
    while (at < in.size()) {
        // The first byte of every piece sets its length, so the fuzzer controls the split points.
        const qsizetype len = 1 + static_cast<unsigned char>(in[at]) % 64;
        screen.feed(in.mid(at + 1, len));
        at += 1 + len;
        if (++round % 5 == 0)
            screen.resize(1 + round % 9, 10 + round % 50);
        FUZZ_CHECK(screen.cursorRow() >= 0 && screen.cursorRow() < screen.rows());
        FUZZ_CHECK(screen.cursorCol() >= 0 && screen.cursorCol() <= screen.cols());
        FUZZ_CHECK(screen.scrollbackCount() <= screen.scrollbackLimit());
    }
    screen.typeKey(VtKey::Up);
    screen.typeChar(U'c', true);
    FUZZ_CHECK(screen.takeOutput().size() <= VtScreen::kMaxOutput);
    const QStringList rows = screen.screenText();
    FUZZ_CHECK(rows.size() == screen.rows());
    for (int r = 0; r < screen.rows(); ++r) {
        FUZZ_CHECK(!fuzz::hasLineBreak(screen.rowText(r)));
        for (int c = 0; c < screen.cols(); ++c)
            (void)screen.cell(r, c);
    }
    for (int i = 0; i < screen.scrollbackCount(); ++i)
        (void)screen.scrollbackLine(i);
    (void)screen.takeBells();
    (void)screen.title();
    return 0;
}
