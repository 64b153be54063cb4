#pragma once

#include "report/ReportPrinter.h"

namespace lv26::test {

// A printer that offers Letter paper (its current paper is A4 until a generation selects
// Letter), so that the listing paginates as on the program's usual printers: 29 rows on the
// first page, then 31 a page.
inline PrinterInfo letterPrinter() {
    PrinterInfo p;
    p.available = true;
    p.paperSizes = {TPaperSize::Letter, TPaperSize::A4};
    p.currentPaper = TPaperSize::A4;
    p.currentPaperSize = QSizeF(2100, 2970);
    return p;
}

} // namespace lv26::test
