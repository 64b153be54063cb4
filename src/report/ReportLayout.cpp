#include "report/ReportLayout.h"

#include "base/Messages.h"
#include "report/Report.h"
#include "report/ReportElements.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cmath>
#include <utility>

namespace lv26 {

namespace {

constexpr double kMaxLength = 100000; // tenths of a millimetre: 10 m
constexpr int kMaxItems = 1000;       // bands per report, elements per band

// A malformed part of the layout: where it is and what is wrong.
struct LayoutFault {
    QString path;
    QString what;
};

[[noreturn]] void fault(const QString& path, const QString& what) {
    throw LayoutFault{path, what};
}

template <typename E> using NameTable = std::initializer_list<std::pair<const char*, E>>;

// One JSON object of the layout; remembers the keys read so that unknown keys are reported.
class Node {
public:
    Node(QJsonObject object, QString path) : object_(std::move(object)), path_(std::move(path)) {}

    bool has(const QString& key) const { return object_.contains(key); }
    QString pathOf(const QString& key) const { return path_.isEmpty() ? key : path_ + u'.' + key; }

    QJsonValue value(const QString& key) {
        used_.insert(key);
        if (!object_.contains(key))
            fault(pathOf(key), msg(Message::LayoutMissing));
        return object_.value(key);
    }

    double number(const QString& key, double min, double max) {
        const QJsonValue v = value(key);
        if (!v.isDouble() || !std::isfinite(v.toDouble()))
            fault(pathOf(key), msg(Message::LayoutExpectedNumber));
        return checkRange(pathOf(key), v.toDouble(), min, max);
    }

    int integer(const QString& key, int min, int max) {
        const double d = number(key, min, max);
        if (d != std::floor(d))
            fault(pathOf(key), msg(Message::LayoutExpectedWholeNumber));
        return int(d);
    }

    bool boolean(const QString& key) {
        const QJsonValue v = value(key);
        if (!v.isBool())
            fault(pathOf(key), msg(Message::LayoutExpectedBoolean));
        return v.toBool();
    }

    QString string(const QString& key) {
        const QJsonValue v = value(key);
        if (!v.isString())
            fault(pathOf(key), msg(Message::LayoutExpectedText));
        return v.toString();
    }

    QString name(const QString& key) {
        const QString s = string(key);
        if (s.trimmed().isEmpty())
            fault(pathOf(key), msg(Message::LayoutEmptyName));
        return s;
    }

    QJsonArray array(const QString& key) {
        const QJsonValue v = value(key);
        if (!v.isArray())
            fault(pathOf(key), msg(Message::LayoutExpectedList));
        return v.toArray();
    }

    Node object(const QString& key) {
        const QJsonValue v = value(key);
        if (!v.isObject())
            fault(pathOf(key), msg(Message::LayoutExpectedObject));
        return Node(v.toObject(), pathOf(key));
    }

    // `count` lengths in tenths of a millimetre.
    QList<double> lengths(const QString& key, int count) {
        const QJsonArray a = array(key);
        if (a.size() != count)
            fault(pathOf(key), msg(Message::LayoutExpectedLengths, {count}));
        QList<double> out;
        for (const QJsonValue& v : a) {
            if (!v.isDouble() || !std::isfinite(v.toDouble()))
                fault(pathOf(key), msg(Message::LayoutExpectedLengths, {count}));
            out << checkRange(pathOf(key), v.toDouble(), 0, kMaxLength);
        }
        return out;
    }

    template <typename E> E choice(const QString& key, NameTable<E> names) {
        const QString s = string(key);
        for (const auto& [text, value] : names) {
            if (s == QLatin1String(text))
                return value;
        }
        fault(pathOf(key), msg(Message::LayoutUnknownValue, {s}));
    }

    // Reports the first key that was never read.
    void finish() const {
        for (auto it = object_.begin(); it != object_.end(); ++it) {
            if (!used_.contains(it.key()))
                fault(pathOf(it.key()), msg(Message::LayoutUnknownKey));
        }
    }

    const QString& path() const { return path_; }

private:
    static double checkRange(const QString& path, double v, double min, double max) {
        if (v < min || v > max)
            fault(path, msg(Message::LayoutOutOfRange,
                            {QString::number(v), QString::number(min), QString::number(max)}));
        return v;
    }

    QJsonObject object_;
    QString path_;
    QSet<QString> used_;
};

QColor color(Node& node, const QString& key) {
    static const NameTable<QRgb> names = {
        {"clBlack", 0x000000},   {"clMaroon", 0x800000},     {"clGreen", 0x008000},
        {"clOlive", 0x808000},   {"clNavy", 0x000080},       {"clPurple", 0x800080},
        {"clTeal", 0x008080},    {"clGray", 0x808080},       {"clSilver", 0xC0C0C0},
        {"clRed", 0xFF0000},     {"clLime", 0x00FF00},       {"clYellow", 0xFFFF00},
        {"clBlue", 0x0000FF},    {"clFuchsia", 0xFF00FF},    {"clAqua", 0x00FFFF},
        {"clWhite", 0xFFFFFF},   {"clWindowText", 0x000000}, {"clWindow", 0xFFFFFF},
        {"clBtnFace", 0xC0C0C0},
    };
    const QString s = node.string(key);
    if (s.size() == 7 && s.front() == u'#') {
        const QColor c = QColor::fromString(s);
        if (c.isValid())
            return c;
    }
    for (const auto& [text, rgb] : names) {
        if (s == QLatin1String(text))
            return QColor::fromRgb(rgb);
    }
    fault(node.pathOf(key), msg(Message::LayoutUnknownColour, {s}));
}

TReportFont font(Node node) {
    TReportFont f;
    f.name = node.name(QStringLiteral("name"));
    f.size = node.number(QStringLiteral("size"), 1, 1000);
    const QJsonArray style = node.array(QStringLiteral("style"));
    for (const QJsonValue& v : style) {
        const QString s = v.toString();
        if (s == u"bold")
            f.bold = true;
        else if (s == u"italic")
            f.italic = true;
        else if (s == u"underline")
            f.underline = true;
        else if (s == u"strikeOut")
            f.strikeOut = true;
        else
            fault(node.pathOf(QStringLiteral("style")), msg(Message::LayoutUnknownStyle, {s}));
    }
    f.color = color(node, QStringLiteral("color"));
    node.finish();
    return f;
}

TReportFrame frame(Node node) {
    TReportFrame f;
    f.color = color(node, QStringLiteral("color"));
    f.width = node.integer(QStringLiteral("width"), 0, 100);
    for (const QJsonValue& v : node.array(QStringLiteral("sides"))) {
        const QString s = v.toString();
        if (s == u"top")
            f.drawTop = true;
        else if (s == u"bottom")
            f.drawBottom = true;
        else if (s == u"left")
            f.drawLeft = true;
        else if (s == u"right")
            f.drawRight = true;
        else
            fault(node.pathOf(QStringLiteral("sides")), msg(Message::LayoutUnknownSide, {s}));
    }
    node.finish();
    return f;
}

void readTextProperties(Node& node, TReportCustomText& e) {
    e.Alignment = node.choice<TAlignment>(QStringLiteral("alignment"),
                                          {{"taLeftJustify", TAlignment::taLeftJustify},
                                           {"taRightJustify", TAlignment::taRightJustify},
                                           {"taCenter", TAlignment::taCenter}});
    e.AlignToBand = node.boolean(QStringLiteral("alignToBand"));
    e.AutoSize = node.boolean(QStringLiteral("autoSize"));
    e.AutoStretch = node.boolean(QStringLiteral("autoStretch"));
    e.WordWrap = node.boolean(QStringLiteral("wordWrap"));
    e.Transparent = node.boolean(QStringLiteral("transparent"));
    e.Color = color(node, QStringLiteral("color"));
    e.Frame = frame(node.object(QStringLiteral("frame")));
    if (node.has(QStringLiteral("font")))
        e.setFont(font(node.object(QStringLiteral("font"))));
}

std::unique_ptr<TReportPrintable> shape(Node& node, const QString& name) {
    auto e = std::make_unique<TReportShape>(name);
    e->Shape = node.choice<TShapeType>(QStringLiteral("shape"),
                                       {{"shRectangle", TShapeType::shRectangle},
                                        {"shCircle", TShapeType::shCircle},
                                        {"shVertLine", TShapeType::shVertLine},
                                        {"shHorLine", TShapeType::shHorLine},
                                        {"shTopAndBottom", TShapeType::shTopAndBottom},
                                        {"shRightAndLeft", TShapeType::shRightAndLeft}});
    Node pen = node.object(QStringLiteral("pen"));
    e->Pen.color = color(pen, QStringLiteral("color"));
    e->Pen.width = pen.integer(QStringLiteral("width"), 0, 100);
    pen.choice<int>(QStringLiteral("style"), {{"psSolid", 0}});
    pen.finish();
    Node brush = node.object(QStringLiteral("brush"));
    e->BrushColor = color(brush, QStringLiteral("color"));
    brush.choice<int>(QStringLiteral("style"), {{"bsSolid", 0}, {"bsClear", 1}});
    brush.finish();
    return e;
}

std::unique_ptr<TReportPrintable> textElement(Node& node, const QString& kind,
                                              const QString& name) {
    std::unique_ptr<TReportCustomText> e;
    if (kind == u"TReportLabel") {
        auto label = std::make_unique<TReportLabel>(name);
        label->Caption = node.string(QStringLiteral("caption"));
        e = std::move(label);
    } else if (kind == u"TReportDBText") {
        auto dbText = std::make_unique<TReportDBText>(name);
        dbText->DataSetName = node.name(QStringLiteral("dataSet"));
        dbText->DataField = node.name(QStringLiteral("dataField"));
        if (node.has(QStringLiteral("mask")))
            dbText->Mask = node.string(QStringLiteral("mask"));
        e = std::move(dbText);
    } else if (kind == u"TReportExpr") {
        auto expr = std::make_unique<TReportExpr>(name);
        expr->Expression = node.string(QStringLiteral("expression"));
        expr->Mask = node.string(QStringLiteral("mask"));
        expr->ResetAfterPrint = node.boolean(QStringLiteral("resetAfterPrint"));
        e = std::move(expr);
    } else if (kind == u"TReportSysData") {
        auto sys = std::make_unique<TReportSysData>(name);
        sys->Data = node.choice<TSysDataType>(QStringLiteral("data"),
                                              {{"sdTime", TSysDataType::sdTime},
                                               {"sdDate", TSysDataType::sdDate},
                                               {"sdDateTime", TSysDataType::sdDateTime},
                                               {"sdPageNumber", TSysDataType::sdPageNumber},
                                               {"sdReportTitle", TSysDataType::sdReportTitle},
                                               {"sdDetailCount", TSysDataType::sdDetailCount},
                                               {"sdDetailNo", TSysDataType::sdDetailNo}});
        sys->Text = node.string(QStringLiteral("text"));
        e = std::move(sys);
    } else {
        fault(node.pathOf(QStringLiteral("kind")), msg(Message::LayoutUnknownElementKind, {kind}));
    }
    readTextProperties(node, *e);
    return e;
}

void element(Node node, TReportBand& band, QSet<QString>& names) {
    const QString name = node.name(QStringLiteral("name"));
    if (names.contains(name.toLower()))
        fault(node.pathOf(QStringLiteral("name")), msg(Message::LayoutNameUsedTwice, {name}));
    names.insert(name.toLower());
    const QString kind = node.string(QStringLiteral("kind"));
    const QList<double> size = node.lengths(QStringLiteral("size"), 4); // Height, Left, Top, Width
    std::unique_ptr<TReportPrintable> e =
        kind == u"TReportShape" ? shape(node, name) : textElement(node, kind, name);
    if (node.has(QStringLiteral("enabled")))
        e->Enabled = node.boolean(QStringLiteral("enabled"));
    node.finish();
    e->setGeometryNative(size[1], size[2], size[3], size[0]);
    band.addElement(std::move(e));
}

void bandOf(Node node, TReport& report, QSet<QString>& names) {
    const QString name = node.name(QStringLiteral("name"));
    if (names.contains(name.toLower()))
        fault(node.pathOf(QStringLiteral("name")), msg(Message::LayoutNameUsedTwice, {name}));
    names.insert(name.toLower());
    const TBandType type = node.choice<TBandType>(QStringLiteral("bandType"),
                                                  {{"btTitle", TBandType::btTitle},
                                                   {"btPageHeader", TBandType::btPageHeader},
                                                   {"btDetail", TBandType::btDetail},
                                                   {"btPageFooter", TBandType::btPageFooter},
                                                   {"btSummary", TBandType::btSummary},
                                                   {"btGroupHeader", TBandType::btGroupHeader},
                                                   {"btGroupFooter", TBandType::btGroupFooter},
                                                   {"btSubDetail", TBandType::btSubDetail},
                                                   {"btColumnHeader", TBandType::btColumnHeader},
                                                   {"btOverlay", TBandType::btOverlay},
                                                   {"btChild", TBandType::btChild}});
    TReportBand* band = report.addBand(name, type);
    const QList<double> size = node.lengths(QStringLiteral("size"), 2); // Height, Width
    band->setHeightNative(size[0]);
    band->setWidthNative(size[1]);
    band->Color = color(node, QStringLiteral("color"));
    band->Frame = frame(node.object(QStringLiteral("frame")));
    band->Enabled = node.boolean(QStringLiteral("enabled"));
    if (node.has(QStringLiteral("font")))
        band->setFont(font(node.object(QStringLiteral("font"))));
    const QJsonArray elements = node.array(QStringLiteral("elements"));
    if (elements.size() > kMaxItems)
        fault(node.pathOf(QStringLiteral("elements")), msg(Message::LayoutTooManyElements));
    for (qsizetype i = 0; i < elements.size(); ++i) {
        const QString path = node.pathOf(QStringLiteral("elements[%1]").arg(i));
        if (!elements[i].isObject())
            fault(path, msg(Message::LayoutExpectedObject));
        element(Node(elements[i].toObject(), path), *band, names);
    }
    node.finish();
}

void page(Node node, TReport& report) {
    TReportPage& p = report.Page;
    p.setOrientation(node.choice<TOrientation>(
        QStringLiteral("orientation"),
        {{"poPortrait", TOrientation::poPortrait}, {"poLandscape", TOrientation::poLandscape}}));
    p.setPaperSize(
        node.choice<TPaperSize>(QStringLiteral("paperSize"), {{"Default", TPaperSize::Default},
                                                              {"Letter", TPaperSize::Letter},
                                                              {"A4", TPaperSize::A4},
                                                              {"Custom", TPaperSize::Custom}}));
    p.setColumns(node.integer(QStringLiteral("columns"), 1, 100));
    const QList<double> v = node.lengths(QStringLiteral("values"), 7);
    for (int i = 0; i < 7; ++i)
        p.setNative(TReportPage::Value(i), v[i]);
    const QString path = node.pathOf(QStringLiteral("values"));
    if (v[TReportPage::TopMarginV] + v[TReportPage::BottomMarginV] >= v[TReportPage::LengthV])
        fault(path, msg(Message::LayoutNoRoomOnLength));
    if (v[TReportPage::LeftMarginV] + v[TReportPage::RightMarginV] >= v[TReportPage::WidthV])
        fault(path, msg(Message::LayoutNoRoomOnWidth));
    node.finish();
}

void options(Node& node, TReport& report) {
    report.Options = TReportOptions{false, false, false};
    for (const QJsonValue& v : node.array(QStringLiteral("options"))) {
        const QString s = v.toString();
        if (s == u"FirstPageHeader")
            report.Options.FirstPageHeader = true;
        else if (s == u"LastPageFooter")
            report.Options.LastPageFooter = true;
        else if (s == u"Compression")
            report.Options.Compression = true;
        else
            fault(node.pathOf(QStringLiteral("options")), msg(Message::LayoutUnknownOption, {s}));
    }
}

void printerSettings(Node node, TReport& report) {
    TReportPrinterSettings& s = report.PrinterSettings;
    s.Copies = node.integer(QStringLiteral("copies"), 1, 9999);
    s.Duplex = node.boolean(QStringLiteral("duplex"));
    s.FirstPage = node.integer(QStringLiteral("firstPage"), 0, 1000000);
    s.LastPage = node.integer(QStringLiteral("lastPage"), 0, 1000000);
    s.OutputBin = node.string(QStringLiteral("outputBin"));
    s.PrinterIndex = node.integer(QStringLiteral("printerIndex"), -1, 1000);
    node.finish();
}

void readReport(Node root, TReport& report) {
    if (root.string(QStringLiteral("format")) != u"lv26-report-layout")
        fault(QStringLiteral("format"), msg(Message::LayoutNotALayout));
    if (root.integer(QStringLiteral("version"), 0, 1000) != 1)
        fault(QStringLiteral("version"), msg(Message::LayoutUnsupportedVersion));
    report.Name = root.name(QStringLiteral("name"));
    report.DataSetName = root.string(QStringLiteral("dataSet"));
    page(root.object(QStringLiteral("page")), report);
    report.setUnits(
        root.choice<TUnits>(QStringLiteral("units"), {{"MM", TUnits::MM},
                                                      {"Inches", TUnits::Inches},
                                                      {"Pixels", TUnits::Pixels},
                                                      {"Characters", TUnits::Characters},
                                                      {"Native", TUnits::Native}}));
    report.setZoom(root.integer(QStringLiteral("zoom"), 1, 300));
    options(root, report);
    report.PrintIfEmpty = root.boolean(QStringLiteral("printIfEmpty"));
    printerSettings(root.object(QStringLiteral("printerSettings")), report);
    report.Font = font(root.object(QStringLiteral("font")));
    report.Frame = frame(root.object(QStringLiteral("frame")));
    report.ReportTitle = root.string(QStringLiteral("reportTitle"));
    report.ShowProgress = root.boolean(QStringLiteral("showProgress"));
    const QJsonArray bands = root.array(QStringLiteral("bands"));
    if (bands.size() > kMaxItems)
        fault(QStringLiteral("bands"), msg(Message::LayoutTooManyBands));
    QSet<QString> names;
    for (qsizetype i = 0; i < bands.size(); ++i) {
        const QString path = QStringLiteral("bands[%1]").arg(i);
        if (!bands[i].isObject())
            fault(path, msg(Message::LayoutExpectedObject));
        bandOf(Node(bands[i].toObject(), path), report, names);
    }
    root.finish();
}

} // namespace

void loadReportLayout(TReport& report, const QByteArray& json, const QString& source) {
    report.clearBands();
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    try {
        if (parseError.error != QJsonParseError::NoError)
            fault(msg(Message::LayoutAtOffset, {parseError.offset}), parseError.errorString());
        if (!doc.isObject())
            fault(QString(), msg(Message::LayoutExpectedObject));
        readReport(Node(doc.object(), QString()), report);
    } catch (const LayoutFault& f) {
        report.clearBands();
        const QString where = f.path.isEmpty() ? f.what : f.path + QStringLiteral(": ") + f.what;
        throw EReportError(msg(Message::LayoutNotValid, {source, where}));
    }
}

void loadReportLayoutFile(TReport& report, const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EReportError(msg(Message::CannotOpenFile, {fileName}));
    constexpr qint64 kMaxLayoutSize = 16 * 1024 * 1024;
    const QByteArray json = file.read(kMaxLayoutSize + 1);
    if (json.size() > kMaxLayoutSize)
        throw EReportError(msg(Message::LayoutFileTooLarge, {fileName}));
    loadReportLayout(report, json, fileName);
}

} // namespace lv26
