#pragma once

// Writing stored pages out of the page store: a PDF document (QPdfWriter, each page picture
// played by the EMF player, so the text stays text and the fonts are embedded as subsets) and
// one PNG image per page. Both write nothing that looks finished unless every page made it:
// the PDF goes through a temporary file that replaces the target only at the end, and a
// cancelled or failed run removes what it wrote.

#include <QString>
#include <functional>

namespace lv26 {

class TReportPrinter;

// Asked between pages; true stops the run (the output is then removed).
using ExportCancelled = std::function<bool()>;
// Told after each page written: pages done so far.
using ExportProgress = std::function<void(int pagesDone)>;

// Writes the pages stored in `printer` to `fileName` as a PDF, one page per picture on the
// pictures' own paper, with the title "Folha de Pagamento" and the creator "Lv26". Requires
// the object to be finished (else nothing is written and false is returned). Returns true
// when the file is complete, false when `cancelled` stopped it (no file is left then, and an
// existing file of that name is untouched). Raises EReportError "Cannot create file %s"
// when the file cannot be made, "Disk full", "File access denied" or "I/O error %s" when it
// cannot be written (nothing is left behind), and "Metafile is not valid" for a damaged page.
bool writePdf(const TReportPrinter& printer, const QString& fileName,
              const ExportCancelled& cancelled = {}, const ExportProgress& progress = {});

// The name of page `page`'s image in a PNG folder: "page-0001.png", ...
QString pngPageName(int page);

// Writes each page stored in `printer` into the existing folder `dir` as pngPageName(n), at
// `dpi` pixels per inch over the picture's own paper, white behind the drawing, played as
// the print plays it. Requires the object to be finished. Returns false when `cancelled`
// stopped it (the images written by this run are removed then). Raises EReportError
// "Cannot create file %s" (an image that cannot be written, the earlier ones removed),
// and "Metafile is not valid".
bool writePngPages(const TReportPrinter& printer, const QString& dir, int dpi,
                   const ExportCancelled& cancelled = {}, const ExportProgress& progress = {});

} // namespace lv26
