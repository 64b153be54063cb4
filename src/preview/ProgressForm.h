#pragma once

// The progress window of a print or a text export (TProgressForm): "Printing progress", a bar,
// the percentage text and Cancel. It is the report printer object's progress receiver while
// the run goes on.

#include <QWidget>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class TProgressForm;
}

namespace lv26 {

class TReportPrinter;

class TProgressForm : public QWidget {
    Q_OBJECT
public:
    // A window (top-level, stays on top, centred when shown) reporting on `printer`, which
    // is not owned and must outlive the window.
    explicit TProgressForm(TReportPrinter& printer, QWidget* parent = nullptr);
    ~TProgressForm() override;

    QLabel* Info() const;
    QPushButton* CancelButton() const;
    QProgressBar* bar() const { return bar_; }

    // Sets the object's cancel flag; the run stops before its next row.
    void CancelButtonClick();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void progressChanged();

    std::unique_ptr<Ui::TProgressForm> ui_;
    TReportPrinter& printer_;
    QProgressBar* bar_;
};

} // namespace lv26
