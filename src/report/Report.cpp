#include "report/Report.h"

#include "report/ReportElements.h"

#include <utility>

namespace lv26 {

// ----- TReportPage -----

double TReportPage::get(Value v) const {
    return report_->toUnits(values_[v]);
}

void TReportPage::set(Value v, double value) {
    values_[v] = report_->fromUnits(value);
}

void TReportPage::setLength(double v) {
    if (paperSize_ == TPaperSize::Custom)
        set(LengthV, v);
}

void TReportPage::setWidth(double v) {
    if (paperSize_ == TPaperSize::Custom)
        set(WidthV, v);
}

void TReportPage::setPaperSize(TPaperSize size) {
    paperSize_ = size;
    if (size == TPaperSize::Default || size == TPaperSize::Custom)
        return;
    const QSizeF paper = report::paperTableSize(size);
    const bool landscape = orientation_ == TOrientation::poLandscape;
    values_[WidthV] = landscape ? paper.height() : paper.width();
    values_[LengthV] = landscape ? paper.width() : paper.height();
}

void TReportPage::setOrientation(TOrientation orientation) {
    if (orientation == orientation_)
        return;
    orientation_ = orientation;
    if (paperSize_ != TPaperSize::Custom && paperSize_ != TPaperSize::Default)
        std::swap(values_[WidthV], values_[LengthV]);
}

void TReportPage::setColumns(int columns) {
    if (columns >= 1)
        columns_ = columns;
}

// ----- TReportBand -----

TReportBand::TReportBand(TReport* report, QString name, TBandType type)
    : report_(report), name_(std::move(name)), type_(type) {}

TReportBand::~TReportBand() = default;

double TReportBand::Height() const {
    return report_->toUnits(height_);
}
double TReportBand::Width() const {
    return report_->toUnits(width_);
}
void TReportBand::setHeight(double v) {
    height_ = report_->fromUnits(v);
}
void TReportBand::setWidth(double v) {
    width_ = report_->fromUnits(v);
}

TReportFont TReportBand::Font() const {
    return ownFont_ ? *ownFont_ : report_->Font;
}

TReportPrintable* TReportBand::addElement(std::unique_ptr<TReportPrintable> element) {
    element->setBand(this);
    elements_.push_back(std::move(element));
    return elements_.back().get();
}

TReportPrintable* TReportBand::findElement(const QString& name) const {
    for (const auto& e : elements_) {
        if (e->Name().compare(name, Qt::CaseInsensitive) == 0)
            return e.get();
    }
    return nullptr;
}

// ----- TReport -----

TReport::TReport() = default;
TReport::~TReport() = default;

void TReport::setZoom(int zoom) {
    if (zoom >= 1 && zoom <= 300)
        zoom_ = zoom;
}

double TReport::toUnits(double tenths) const {
    switch (units_) {
    case TUnits::MM:
        return tenths * 0.1;
    case TUnits::Inches:
        return tenths / report::kNativePerInch;
    case TUnits::Pixels:
        return tenths * (report::kScreenPixelsPerInch / report::kNativePerInch) * zoom_ / 100.0;
    case TUnits::Characters:
        return Font.size > 0 ? tenths / (Font.size * report::kNativePerInch / 72.0) : 0;
    case TUnits::Native:
        break;
    }
    return tenths;
}

double TReport::fromUnits(double value) const {
    switch (units_) {
    case TUnits::MM:
        return value * 10.0;
    case TUnits::Inches:
        return value * report::kNativePerInch;
    case TUnits::Pixels:
        return value / ((report::kScreenPixelsPerInch / report::kNativePerInch) * zoom_ / 100.0);
    case TUnits::Characters:
        return value * (Font.size * report::kNativePerInch / 72.0);
    case TUnits::Native:
        break;
    }
    return value;
}

TReportBand* TReport::addBand(const QString& name, TBandType type) {
    bands_.push_back(std::make_unique<TReportBand>(this, name, type));
    return bands_.back().get();
}

TReportBand* TReport::bandOfType(TBandType type) const {
    for (const auto& band : bands_) {
        if (band->BandType() == type)
            return band.get();
    }
    return nullptr;
}

double TReport::pageFooterHeight() const {
    double sum = 0;
    for (const auto& band : bands_) {
        if (band->BandType() == TBandType::btPageFooter && band->Enabled)
            sum += band->heightNative();
    }
    return sum;
}

} // namespace lv26
