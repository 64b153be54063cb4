#pragma once

// The report's preview operation: a fresh report printer object, a preview window over it, a
// generation into it, and a wait until that window is closed or the application ends.

namespace lv26 {

class TReport;
class TPreviewForm;

// Runs the preview of `report`. Returns at once (showing nothing) when the report is busy;
// otherwise when the window it opened has been closed or the application is terminating (the
// window is then closed and freed first). Everything it created is released before it
// returns, except when the generation raises: the error goes on to the caller and the window
// stays open with the pages made so far (it owns its object until it is closed). Nested calls
// (from inside the wait) are allowed and return first. A window closed, or a run cancelled
// (CancelReport), before the generation has begun leaves the generation out.
void PreviewReport(TReport& report);

// For an application that is terminating: sets the cancel flag of the report's current report
// printer object (see currentReportPrinter), so that a generation running for a preview, a
// print or a text export stops before its next employee row, and a preview operation that
// has not begun its generation yet skips it. Does nothing when there is no current object.
void CancelReport(const TReport& report);

// The preview window of the innermost running preview operation, or null; for tests.
TPreviewForm* lastPreviewForm();

} // namespace lv26
