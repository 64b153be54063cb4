#pragma once

// Report layouts as data: a JSON document (format "lv26-report-layout", version 1, described
// in docs/report-layout.md) holding the report's page, options, fonts and its bands with
// their elements, every length in tenths of a millimetre.

#include <QByteArray>
#include <QString>

namespace lv26 {

class TReport;

// Replaces the settings, bands and elements of `report` by those of the layout `json`.
// Stored lengths are taken as they are (no element is measured or resized on load). `source`
// names the layout in messages. Raises EReportError "Report layout <source> is not valid:
// <what and where>" for malformed JSON, a missing or unknown key, a value of the wrong type
// or out of range, or an unknown band type, element kind or name; the report then holds no
// bands. Never touches the report's dataset.
void loadReportLayout(TReport& report, const QByteArray& json, const QString& source);

// As loadReportLayout() for the file or resource `fileName` (e.g. ":/report/Report1.json").
// Raises EReportError "Cannot open file <fileName>" when it cannot be read.
void loadReportLayoutFile(TReport& report, const QString& fileName);

} // namespace lv26
