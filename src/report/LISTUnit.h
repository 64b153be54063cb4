#pragma once

// LISTUnit: ListForm, the holder of the payroll report Report1. It has no window of its own:
// it exists only to own the report, whose layout (page, bands, elements) is loaded from the
// resource ":/report/Report1.json" when it is created.

#include "report/Report.h"
#include "report/TableDataSet.h"

#include <QObject>
#include <memory>

namespace lv26 {

class TDataSet;

class TListForm : public QObject {
public:
    // Loads Report1's layout and binds Report1 to `table1` (not owned; normally
    // Dados->Table1; may be null and bound later with setDataSet). Raises EReportError when
    // the layout resource is missing or malformed.
    explicit TListForm(TDataSet* table1, QObject* parent = nullptr);
    ~TListForm() override;

    // The caption the window would show; nothing shows it.
    static QString Caption() { return QStringLiteral("FOLHA DE PAGAMENTO"); }
    // Where the layout is read from.
    static QString layoutResource() { return QStringLiteral(":/report/Report1.json"); }

    // Makes `table1` (not owned, may be null) the dataset of Report1.
    void setDataSet(TDataSet* table1);

    TReport Report1;

private:
    std::unique_ptr<TableDataSet> table1_;
};

// The one instance, created at start-up after the data module; null before.
extern TListForm* ListForm;

} // namespace lv26
