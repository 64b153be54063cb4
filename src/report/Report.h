#pragma once

// The banded report model: a report with its page, its options and its bands, each band
// with its elements (ReportElements.h). Every length is stored in tenths of a millimetre
// (native units); the report's Units only choose the unit in which lengths are read and
// written through the properties. Generation (Generate, ExportText) lives in
// ReportGenerator.cpp.

#include "report/ReportTypes.h"

#include <QList>
#include <QPageRanges>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace lv26 {

class TReport;
class TReportBand;
class TReportPrintable;
class TReportPrinter;
class TTextExportFilter;
class ReportDataSet;

// The page of a report: paper, orientation, columns and the seven stored lengths.
class TReportPage {
public:
    // Positions in Values, in their stored order.
    enum Value {
        BottomMarginV,
        LengthV,
        TopMarginV,
        WidthV,
        LeftMarginV,
        RightMarginV,
        ColumnSpaceV
    };

    explicit TReportPage(TReport* report) : report_(report) {}

    // Lengths in the report's current Units.
    double BottomMargin() const { return get(BottomMarginV); }
    double Length() const { return get(LengthV); }
    double TopMargin() const { return get(TopMarginV); }
    double Width() const { return get(WidthV); }
    double LeftMargin() const { return get(LeftMarginV); }
    double RightMargin() const { return get(RightMarginV); }
    double ColumnSpace() const { return get(ColumnSpaceV); }
    void setBottomMargin(double v) { set(BottomMarginV, v); }
    void setTopMargin(double v) { set(TopMarginV, v); }
    void setLeftMargin(double v) { set(LeftMarginV, v); }
    void setRightMargin(double v) { set(RightMarginV, v); }
    void setColumnSpace(double v) { set(ColumnSpaceV, v); }
    // Only for a custom paper size; ignored otherwise.
    void setLength(double v);
    void setWidth(double v);

    TPaperSize PaperSize() const { return paperSize_; }
    // A named size sets Width and Length from the paper table (swapped for landscape).
    void setPaperSize(TPaperSize size);
    TOrientation Orientation() const { return orientation_; }
    // Changing the orientation of a named paper swaps Width and Length.
    void setOrientation(TOrientation orientation);
    int Columns() const { return columns_; }
    // Values below 1 are ignored.
    void setColumns(int columns);

    // The stored value at `v`, tenths of a millimetre.
    double native(Value v) const { return values_[v]; }
    // Sets the stored value directly (layout loading); any paper size.
    void setNative(Value v, double tenths) { values_[v] = tenths; }

private:
    double get(Value v) const;
    void set(Value v, double value);

    TReport* report_;
    std::array<double, 7> values_{100, 2970, 100, 2100, 100, 100, 0};
    TPaperSize paperSize_ = TPaperSize::A4;
    TOrientation orientation_ = TOrientation::poPortrait;
    int columns_ = 1;
};

// A horizontal strip of the page printed as its type decides; owns its elements.
class TReportBand {
public:
    TReportBand(TReport* report, QString name, TBandType type);
    ~TReportBand();

    TReport* report() const { return report_; }
    const QString& Name() const { return name_; }
    TBandType BandType() const { return type_; }

    // Lengths in the report's current Units; stored as Size.Values = (Height, Width).
    double Height() const;
    double Width() const;
    void setHeight(double v);
    void setWidth(double v);
    double heightNative() const { return height_; }
    double widthNative() const { return width_; }
    void setHeightNative(double tenths) { height_ = tenths; }
    void setWidthNative(double tenths) { width_ = tenths; }

    QColor Color = Qt::white;
    TReportFrame Frame;
    bool Enabled = true;
    bool AlignToBottom = false;
    bool ForceNewPage = false;
    bool ForceNewColumn = false;

    // The band's own font, or the report's when it sets none.
    TReportFont Font() const;
    bool hasOwnFont() const { return ownFont_.has_value(); }
    void setFont(const TReportFont& font) { ownFont_ = font; }

    // Elements in stored (drawing) order; the band owns them.
    const std::vector<std::unique_ptr<TReportPrintable>>& elements() const { return elements_; }
    // Takes ownership of `element` and appends it; returns it.
    TReportPrintable* addElement(std::unique_ptr<TReportPrintable> element);
    // The element named `name` (case ignored), or nullptr.
    TReportPrintable* findElement(const QString& name) const;

private:
    TReport* report_;
    QString name_;
    TBandType type_;
    double height_ = 0;
    double width_ = 0;
    std::optional<TReportFont> ownFont_;
    std::vector<std::unique_ptr<TReportPrintable>> elements_;
};

struct TReportOptions {
    bool FirstPageHeader = true;
    bool LastPageFooter = true;
    bool Compression = false;
};

struct TReportPrinterSettings {
    int Copies = 1;
    bool Duplex = false;
    int FirstPage = 0; // 0: no limit
    int LastPage = 0;
    QPageRanges PrintPages; // a list of pages within FirstPage..LastPage; empty: all of them
    QString OutputBin = QStringLiteral("First");
    int PrinterIndex = -1; // the default printer
};

// A banded report. Generation runs on the calling (GUI) thread and dispatches events.
class TReport {
public:
    TReport();
    ~TReport();
    TReport(const TReport&) = delete;
    TReport& operator=(const TReport&) = delete;

    QString Name = QStringLiteral("Report1");
    TReportPage Page{this};
    TReportOptions Options;
    bool PrintIfEmpty = true;
    TReportPrinterSettings PrinterSettings;
    TReportFont Font;
    TReportFrame Frame;
    QString ReportTitle;
    bool ShowProgress = true;

    TUnits Units() const { return units_; }
    void setUnits(TUnits units) { units_ = units; }
    int Zoom() const { return zoom_; }
    // Values outside 1..300 are ignored.
    void setZoom(int zoom);

    // The dataset whose rows drive the detail band; not owned; may be null.
    ReportDataSet* DataSet() const { return dataSet_; }
    void setDataSet(ReportDataSet* dataSet) { dataSet_ = dataSet; }
    // The name the layout gives the dataset ("Table1"), kept for checks and messages.
    QString DataSetName;

    // Converts a stored length (tenths of a millimetre) to the current Units and back.
    double toUnits(double tenths) const;
    double fromUnits(double value) const;

    // Bands in stored order; the report owns them.
    const std::vector<std::unique_ptr<TReportBand>>& bands() const { return bands_; }
    // Creates a band owned by the report, appended to the band list.
    TReportBand* addBand(const QString& name, TBandType type);
    // The first band of `type`, or nullptr.
    TReportBand* bandOfType(TBandType type) const;
    // Sum of the heights of the enabled page footer bands, tenths of a millimetre.
    double pageFooterHeight() const;
    // Removes every band and element.
    void clearBands() { bands_.clear(); }

    // True from the start to the end of a generation.
    bool busy() const { return busy_; }
    // True while ExportText runs.
    bool exporting() const { return exportFilter_ != nullptr; }
    // The export that ExportText is running, or null; its generation writes the pages there
    // instead of to the report printer object.
    TTextExportFilter* exportFilter() const { return exportFilter_; }

    // Runs a generation into `printer` (see ReportGenerator.cpp): does nothing when the report
    // is busy. Cancelling leaves `printer` busy with the pages finished so far. Errors of the
    // table layer, the page store or the device end the document, clear the busy flag and
    // go on to the caller.
    void Generate(TReportPrinter& printer);
    // Runs a text export generation writing `filter`'s file, with `printer` (a fresh object,
    // preview destination) as the run's printer object; nothing is drawn or stored. Does
    // nothing when busy. Raises EReportError when the file cannot be created or written.
    void ExportText(TTextExportFilter& filter, TReportPrinter& printer);

private:
    TUnits units_ = TUnits::MM;
    int zoom_ = 100;
    ReportDataSet* dataSet_ = nullptr;
    bool busy_ = false;
    TTextExportFilter* exportFilter_ = nullptr;
    std::vector<std::unique_ptr<TReportBand>> bands_;
};

} // namespace lv26
